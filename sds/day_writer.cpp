#include "day_writer.h"

#include "record_pack.h"
#include "tm4_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <system_error>

namespace sds {

namespace {

namespace fs = std::filesystem;

constexpr int temporary_name_attempts = 100;

Error file_error(const fs::path& file, const std::string& cause) {
    return Error(file.string() + ": " + cause);
}

Error system_error(const fs::path& file, const char* what) {
    return file_error(file, std::string(what) + ": " + std::strerror(errno));
}

// A temporary's name: ".DAYFILE.PID.ATTEMPT", hidden and unlike any day file's name.
std::string temporary_name(const fs::path& file, int attempt) {
    return "." + file.filename().string() + "." + std::to_string(::getpid()) + "." +
           std::to_string(attempt);
}

// Whether name is one temporary_name gives: after the dot a day file's
// name, then two numbers.
bool is_temporary_name(std::string_view name) {
    const auto strip_number = [&name] {
        const size_t dot = name.rfind('.');
        if (dot == std::string_view::npos || dot + 1 == name.size() ||
            name.find_first_not_of("0123456789", dot + 1) != std::string_view::npos)
            return false;
        name.remove_suffix(name.size() - dot);
        return true;
    };
    if (!name.starts_with('.') || !strip_number() || !strip_number())
        return false;
    return parse_day_file_name(name.substr(1)).has_value();
}

// A new file beside `file`, named by temporary_name.
std::pair<int, fs::path> create_temporary(const fs::path& file) {
    for (int attempt = 0; attempt < temporary_name_attempts; ++attempt) {
        const fs::path name = file.parent_path() / temporary_name(file, attempt);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return {fd, name};
        if (errno != EEXIST)
            throw system_error(name, "cannot be created");
    }
    throw file_error(file, "no free temporary name beside it");
}

void write_all(int fd, const std::string& bytes, const fs::path& file) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw system_error(file, "cannot be written");
        done += static_cast<size_t>(n);
    }
}

// Only a regular file (or nothing) is replaced by a rename.
void check_replaceable(const fs::path& file) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return;
        throw system_error(file, "cannot be examined");
    }
    if (!S_ISREG(status.st_mode))
        throw file_error(file, "is not a regular file and is not replaced");
}

}  // namespace

size_t first_sample_from(int64_t start_us, double rate_hz, size_t count, int64_t boundary_us) {
    if (boundary_us <= start_us)
        return 0;
    const double estimate = std::ceil(static_cast<double>(boundary_us - start_us) * rate_hz / 1e6);
    size_t index = static_cast<size_t>(std::min(estimate, static_cast<double>(count)));
    while (index > 0 && nvtools::sample_time_us(start_us, index - 1, rate_hz) >= boundary_us)
        --index;
    while (index < count && nvtools::sample_time_us(start_us, index, rate_hz) < boundary_us)
        ++index;
    return index;
}

DayFileSet::DayFileSet(fs::path root) : root_(std::move(root)) {}

DayFileSet::~DayFileSet() { remove_temporaries(); }

void DayFileSet::replaces(const fs::path& day_file) { replaced_.push_back(day_file); }

void DayFileSet::add(const SeedId& id, double rate_hz, int64_t start_us,
                     std::span<const float> values, const fs::path& tree) {
    if (!(rate_hz > 0 && std::isfinite(rate_hz)))
        throw Error(id.text() + ": no positive, finite rate");
    for (size_t from = 0; from < values.size();) {
        const int64_t part_start = nvtools::sample_time_us(start_us, from, rate_hz);
        const int64_t next_midnight = midnight_us(day_at(part_start) + 1);
        const size_t to = first_sample_from(start_us, rate_hz, values.size(), next_midnight);
        add_part(root_ / tree, id, rate_hz, part_start, values.subspan(from, to - from));
        from = to;
    }
}

void DayFileSet::add_part(const fs::path& root, const SeedId& id, double rate_hz,
                          int64_t start_us, std::span<const float> values) {
    Part part{start_us, nvtools::sample_time_us(start_us, values.size(), rate_hz), {}};
    pack_float32_records(id, rate_hz, start_us, values, part.records);
    files_[day_file(root, id, day_at(start_us))].push_back(std::move(part));
}

void DayFileSet::write_temporaries() {
    for (auto& [file, parts] : files_) {
        std::sort(parts.begin(), parts.end(),
                  [](const Part& a, const Part& b) { return a.start_us < b.start_us; });
        for (size_t k = 1; k < parts.size(); ++k)
            if (parts[k].start_us < parts[k - 1].end_us)
                throw file_error(file, "two pieces of its trace overlap");
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        if (error)
            throw file_error(file.parent_path(), "cannot be created: " + error.message());
        check_replaceable(file);
        const auto [fd, temporary] = create_temporary(file);
        temporaries_[file] = temporary;
        try {
            for (const Part& part : parts)
                write_all(fd, part.records, temporary);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throw system_error(temporary, "cannot be written");
    }
}

std::vector<fs::path> DayFileSet::commit() {
    std::vector<fs::path> placed;
    std::vector<fs::path> stale;
    try {
        for (const fs::path& file : replaced_)
            if (!files_.contains(file)) {
                check_replaceable(file);
                stale.push_back(file);
            }
        write_temporaries();
        for (const auto& [file, temporary] : temporaries_) {
            if (::rename(temporary.c_str(), file.c_str()) != 0)
                throw system_error(file, "cannot be put in place");
            placed.push_back(file);
        }
        for (const fs::path& file : stale)
            if (::unlink(file.c_str()) != 0 && errno != ENOENT)
                throw system_error(file, "cannot be removed");
    } catch (...) {
        for (const fs::path& file : placed)
            ::unlink(file.c_str());
        remove_temporaries();
        throw;
    }
    temporaries_.clear();
    files_.clear();
    replaced_.clear();
    return placed;
}

void DayFileSet::remove_temporaries() noexcept {
    for (const auto& [file, temporary] : temporaries_)
        ::unlink(temporary.c_str());
    temporaries_.clear();
}

void remove_leftover_temporaries(const fs::path& root) {
    std::error_code error;
    fs::recursive_directory_iterator entries(root, error), end;
    for (; !error && entries != end; entries.increment(error)) {
        const fs::directory_entry& entry = *entries;
        if (entry.symlink_status(error).type() != fs::file_type::regular ||
            !is_temporary_name(entry.path().filename().string()))
            continue;
        if (::unlink(entry.path().c_str()) != 0 && errno != ENOENT)
            throw system_error(entry.path(), "cannot be removed");
    }
    if (error && error != std::errc::no_such_file_or_directory)
        throw file_error(root, "cannot be read: " + error.message());
}

}  // namespace sds
