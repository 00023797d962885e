#include "pipeline.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cleanup.h"
#include "collect.h"
#include "fatal.h"
#include "nevra.h"
#include "nevra_base.h"
#include "row_files.h"
#include "settings.h"
#include "stores.h"
#include "workers.h"

namespace {

using Nevra::Nevra_Base;

[[noreturn]] void fail_input(const char* fnamein, const std::string& reason) {
    fatal(std::string("can't read ") + fnamein + ": " + reason);
}

// Reader messages end in a line feed; the driver's line adds its own.
std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Why detection gave no reader for a file: it cannot be opened, or it starts
// like a legacy file but has no line end where its comment line must end.
std::string why_no_reader(const char* fnamein) {
    errno = 0;
    std::ifstream in(fnamein, std::ios::binary);
    if (!in.is_open())
        return errno != 0 ? std::strerror(errno) : "the file cannot be opened";
    return "no line end in the first 3072 bytes";
}

std::unique_ptr<Nevra_Base> load(const char* fnamein) {
    Nevra_Base* recording = nullptr;
    try {
        recording = Nevra::nvdetect(fnamein, 0.0);
    } catch (const std::exception& e) {
        fail_input(fnamein, without_line_end(e.what()));
    }
    if (recording == nullptr)
        fail_input(fnamein, why_no_reader(fnamein));
    return std::unique_ptr<Nevra_Base>(recording);
}

std::string station_of(const char* fnamein, const Nevra_Base& recording) {
    try {
        return recording.station_name();
    } catch (const std::out_of_range&) {
        fail_input(fnamein,
                   "unknown station id " + std::to_string(recording.get_header().header.m_station));
    } catch (const std::exception& e) {
        fail_input(fnamein, without_line_end(e.what()));
    }
}

std::string comment_line(const Nevra_Base& recording, const std::string& station) {
    return Nevra::compose_comment(
        recording.get_frequency(), recording.get_channels().front().m_gain, station,
        recording.get_header().common.m_seconds, Nevra::FrequencyDigits::six_significant);
}

void report_time_difference(const Nevra_Base& recording) {
    const auto& header = recording.get_header();
    const std::int64_t difference = static_cast<std::int64_t>(header.v.v1.m_host_timestamp) -
                                    static_cast<std::int64_t>(header.common.m_seconds);
    std::cerr << "INFO: Time diff: " << difference << " seconds\n";
}

void clear_stores() {
    time_array.clear();
    for (auto& slot : original)
        slot.clear();
    tid.clear();
    for (auto& slot : processed)
        slot.clear();
}

// The stores take the time axis and every channel's samples in one step each.
void store(const Nevra_Base& recording) {
    const auto& times = recording.get_time();
    time_array.assign(times.begin(), times.end());
    original.resize(recording.get_header().num_channels());
    for (const auto& channel : recording.get_channels()) {
        const auto& samples = recording.get_data(channel.m_channel);
        original[channel.m_channel].assign(samples.begin(), samples.end());
    }
}

void append_number(std::string& text, double value) {
    char digits[32];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    text.append(digits, result.ptr);
}

std::string number_text(double value) {
    std::string text;
    append_number(text, value);
    return text;
}

// Writes the job files of all rows, each composed in memory and written in one go.
class job_writer {
public:
    explicit job_writer(double samplerate) {
        for (std::size_t i = 0; i < size; ++i)
            m_offsets.push_back(number_text(static_cast<double>(i) / samplerate) + " ");
    }

    void write_all() {
        const std::size_t blocks = time_array.size() / size;
        tid.reserve(blocks * original.size());
        for (std::size_t ptr = 0; ptr + size <= time_array.size(); ptr += size)
            for (const auto& slot : original)
                write_row(slot, ptr);
    }

private:
    void write_row(const std::vector<double>& slot, std::size_t ptr) {
        const std::string name = row2basename(tid.size()) + ".dat";
        std::FILE* file = std::fopen(name.c_str(), "w");
        if (file == nullptr)
            fatal("can't open " + name);
        tid.push_back(time_array[ptr]);
        compose(slot, ptr);
        const bool written = std::fwrite(m_text.data(), 1, m_text.size(), file) == m_text.size();
        const int write_errno = errno;
        if (std::fclose(file) != 0 || !written)
            fatal("can't write " + name + ": " + std::strerror(written ? errno : write_errno));
    }

    void compose(const std::vector<double>& slot, std::size_t ptr) {
        m_text.clear();
        if (!test)
            m_text += "512\n";
        for (std::size_t i = 0; i < size; ++i) {
            if (!test)
                m_text += m_offsets[i];
            append_number(m_text, slot[ptr + i]);
            m_text += '\n';
        }
    }

    std::vector<std::string> m_offsets;  // "i / samplerate " for every line
    std::string m_text;
};

std::string analysis_invocation(double samplerate, double treshold, double lowtreshold) {
    std::string invocation = "mavlin " + options + " -p" + std::to_string(size) + "i" +
                             number_text(1.0 / samplerate) + "v" + number_text(treshold);
    if (bandp)
        invocation += "w" + number_text(lowtreshold);
    return invocation;
}

// The run's claim on the row file names of its namebase: an exclusive lock
// on <namebase>.lock, so that a second run on the same base cannot overwrite
// this run's job and result files. The file is removed while still locked;
// a run that opened it just before checks that it locked the file that is
// still there under the name.
class namebase_lock {
public:
    namebase_lock() : m_name(namebase + ".lock") {
        const cleanup::signals_held held;
        while (!try_lock()) {
        }
    }

    ~namebase_lock() {
        if (m_fd < 0)
            return;
        const cleanup::signals_held held;
        if (unlink(m_name.c_str()) != 0)
            std::cerr << "Warning: can't remove " << m_name << ": " << std::strerror(errno) << "\n";
        close(m_fd);  // releases the lock; a failure leaves nothing to undo
        cleanup::forget_lock();
    }

    namebase_lock(const namebase_lock&) = delete;
    namebase_lock& operator=(const namebase_lock&) = delete;

private:
    // false when the file locked was removed meanwhile by the run that held it.
    bool try_lock() {
        const int fd = open(m_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            // Without its directory no job file can be made either; job
            // writing names the first one.
            if (errno == ENOENT || errno == ENOTDIR)
                return true;
            fatal("can't open " + m_name + ": " + std::strerror(errno));
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int reason = errno;
            close(fd);
            if (reason == EWOULDBLOCK)
                fatal("can't lock " + m_name + ": another vimsor run uses the namebase " +
                      namebase);
            fatal("can't lock " + m_name + ": " + std::strerror(reason));
        }
        struct stat locked {
        }, named{};
        if (fstat(fd, &locked) != 0 || stat(m_name.c_str(), &named) != 0 ||
            locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
            close(fd);
            return false;
        }
        m_fd = fd;
        cleanup::add_lock(m_name.c_str(), fd);
        return true;
    }

    std::string m_name;
    int m_fd = -1;
};

void remove_row_files(std::size_t rows) {
    for (std::size_t r = 0; r < rows; ++r) {
        const std::string base = row2basename(r);
        for (const char* extension : row_file_extensions) {
            const std::string name = base + extension;
            if (unlink(name.c_str()) != 0 && errno != ENOENT)
                std::cerr << "Warning: can't remove " << name << ": " << std::strerror(errno)
                          << "\n";
        }
    }
}

// Loads the input file into the stores, composes firstline and writes the two
// diagnostic lines; returns the sampling frequency. The recording object is
// released once its data are copied.
double load_into_stores(const char* fnamein) {
    const std::unique_ptr<Nevra_Base> recording = load(fnamein);
    check_recording(fnamein, *recording);
    firstline = comment_line(*recording, station_of(fnamein, *recording));
    report_time_difference(*recording);
    std::cerr << recording->get_time().size() << " " << time_array.size() << "\n";
    store(*recording);
    return recording->get_frequency();
}

void size_processed() {
    processed.resize(original.size());
    const std::size_t values = time_array.size() / size * size;
    for (auto& slot : processed)
        slot.reserve(values);
}

void analyse(double samplerate, double treshold, double lowtreshold) {
    const std::string invocation = analysis_invocation(samplerate, treshold, lowtreshold);
    const std::size_t budget = argument_budget();
    std::vector<std::string> commands;
    for (std::size_t k = 0; k < global_nr_cpus; ++k)
        commands.push_back(worker_command(invocation, k, tid.size(), budget));
    run_workers(commands);
}

}  // namespace

void write_job_files(double samplerate) { job_writer(samplerate).write_all(); }

void check_recording(const char* fnamein, const Nevra_Base& recording) {
    const double frequency = recording.get_frequency();
    if (!Nevra::is_usable_frequency(frequency)) {
        std::ostringstream reason;
        reason << "sampling frequency " << frequency << " Hz is not a positive number";
        fail_input(fnamein, reason.str());
    }
    const auto& channels = recording.get_channels();
    if (channels.empty())
        fail_input(fnamein, "no channel records");
    const std::size_t times = recording.get_time().size();
    for (const auto& channel : channels) {
        const std::size_t samples = recording.get_data(channel.m_channel).size();
        if (samples < times)
            fail_input(fnamein, "channel " + std::to_string(channel.m_channel) + " holds " +
                                    std::to_string(samples) + " samples, fewer than the " +
                                    std::to_string(times) + " sample times");
    }
}

int calculate(const char* fnamein, char* fnameout, double treshold, double lowtreshold) {
    if (std::strcmp(fnamein, fnameout) == 0)
        fatal("output is the same file as input");

    const namebase_lock lock;
    // Every input file is processed on its own, from empty stores.
    clear_stores();
    const double samplerate = load_into_stores(fnamein);
    size_processed();

    set_worker_count();
    cleanup::add_rows(namebase.c_str(), global_nr_cpus, time_array.size() / size * original.size());
    write_job_files(samplerate);

    if (!quiet)
        std::cout << "Using options: " << options << "\n";
    analyse(samplerate, treshold, lowtreshold);

    const std::size_t rows = tid.size();
    if (global_strength == both) {
        write_file(fnameout, weak, rows, size);
        write_file(fnameout, strong, rows, size);
    } else {
        write_file(fnameout, global_strength, rows, size);
    }

    remove_row_files(rows);
    cleanup::forget_rows();
    return 0;
}
