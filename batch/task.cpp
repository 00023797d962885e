#include "task.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "batch_error.h"
#include "files.h"
#include "manifest.h"
#include "programs.h"
#include "records.h"
#include "scratch.h"
#include "sds_batch.h"
#include "vimsor_process.h"

namespace {

volatile sig_atomic_t stop_signal = 0;

void note_stop(int signal) { stop_signal = signal; }

// Without SA_RESTART, so that a wait or a read returns and the task stops.
void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

std::string signal_name(int signal) {
    const char* name = sigabbrev_np(signal);
    return name != nullptr ? name : std::to_string(signal);
}

int append_to(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    const ssize_t written = write(fd, text.data(), text.size());
    const int error = written == static_cast<ssize_t>(text.size()) ? 0 : errno == 0 ? ENOSPC : errno;
    return close(fd) != 0 && error == 0 ? errno : error;
}

// A piece of a day on which vimsor failed: the lines for the failed record.
struct piece_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class input_run {
public:
    // sds: the batch's archive, when its inputs are the days of one.
    input_run(const task_setting& setting, std::size_t index, const planned_input& entry,
              const sds_batch* sds)
        : setting_(setting), layout_(setting.layout), index_(index), entry_(entry), sds_(sds) {}

    ~input_run() { finish(); }
    input_run(const input_run&) = delete;
    input_run& operator=(const input_run&) = delete;

    bool process();  // true when the input is done

private:
    bool fail(const std::string& lines);
    bool process_day();
    void run_piece(const std::string& piece);
    std::string vimsor_failure(const vimsor_end& end) const;
    bool record_done(const std::string& text);
    vimsor_end run(const std::string& input);
    std::string move_outputs();
    void gather_logfile();
    void write_running();
    void finish();

    const task_setting& setting_;
    const batch_layout& layout_;
    std::size_t index_;
    const planned_input& entry_;
    const sds_batch* sds_;
    running_record record_;
    std::string host_ = host_name();
};

vimsor_end input_run::run(const std::string& input) {
    vimsor_call call{split_nul_terminated(read_file(layout_.options())), record_.scratch, layout_.log(index_)};
    for (const std::string& word : {"--cpus=" + std::to_string(setting_.cpus), std::string("--namebase=vm"),
                                    std::string("--"), input})
        call.arguments.push_back(word);
    return run_vimsor(
        call,
        [this](const process_id& session) {
            record_.session = session;
            write_running();
        },
        stop_signal);
}

bool input_run::fail(const std::string& lines) {
    const std::string path = layout_.record(index_, record_state::failed);
    if (const int error = replace_file(path, lines + "vimsor-batch: log: " + layout_.log(index_) + "\n"); error != 0)
        std::cerr << "vimsor-batch: cannot write " << path << ": " << reason_of(error) << "\n";
    return false;
}

void input_run::write_running() {
    const std::string path = layout_.record(index_, record_state::running);
    if (const int error = replace_file(path, running_record_text(record_)); error != 0)
        throw batch_error("cannot write " + path + ": " + reason_of(error));
}

// Each output into out/ in one rename: straight from the scratch directory
// when it is on the same file system, else copied into staging/ first.
std::string input_run::move_outputs() {
    for (std::size_t k = 0; k < entry_.outputs.size(); ++k) {
        const std::string& output = entry_.outputs[k];
        const std::string from = work_dir(record_.scratch) + "/" + output;
        const std::string to = layout_.out() + "/" + output;
        if (rename(from.c_str(), to.c_str()) == 0)
            continue;
        if (errno != EXDEV)
            return output + ": " + reason_of(errno);
        const std::string staged = layout_.staging() + "/" + std::to_string(index_) + "." +
                                   std::to_string(k) + "." + host_ + "." + std::to_string(getpid());
        int error = copy_file(from, staged);
        if (error == 0 && rename(staged.c_str(), to.c_str()) != 0)
            error = errno;
        if (error != 0) {
            unlink(staged.c_str());
            return output + ": " + reason_of(error);
        }
    }
    return "";
}

// The invocation lines vimsor wrote, added to DIR/logfile under its lock.
void input_run::gather_logfile() {
    std::string lines;
    try {
        lines = read_file(work_dir(record_.scratch) + "/logfile");
    } catch (const batch_error&) {
        return;  // vimsor wrote none
    }
    const int fd = open(layout_.logfile().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(fd, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
        std::cerr << "vimsor-batch: cannot add to " << layout_.logfile() << ": " << reason_of(errno) << "\n";
    if (fd >= 0)
        close(fd);
}

// Leaves nothing behind but the log and the records.
void input_run::finish() {
    if (!record_.scratch.empty())
        if (const int error = remove_tree(record_.scratch); error != 0)
            std::cerr << "vimsor-batch: cannot remove " << record_.scratch << ": " << reason_of(error) << "\n";
    const std::string path = layout_.record(index_, record_state::running);
    try {  // only our own: a later run may have taken the input over
        if (parse_running_record(read_file(path)).task == record_.task)
            unlink(path.c_str());
    } catch (const batch_error&) {
    }
}

bool input_run::process() {
    if (access(layout_.record(index_, record_state::done).c_str(), F_OK) == 0)
        return true;
    if (const int error = make_directories(layout_.shard(index_)); error != 0)
        throw batch_error("cannot create " + layout_.shard(index_) + ": " + reason_of(error));
    try {
        clear_stale(layout_, index_, parse_running_record(read_file(layout_.record(index_, record_state::running))));
    } catch (const batch_error&) {
        // no running record: the usual case
    }
    const std::string log = layout_.log(index_);
    if (const int error = replace_file(log, "vimsor-batch: input " + std::to_string(index_) + ": " + entry_.input + "\n"); error != 0)
        return fail("vimsor-batch: cannot write " + log + ": " + reason_of(error) + "\n");
    record_ = {host_, setting_.runner, setting_.job, identify(getpid()), {}, std::time(nullptr), ""};
    try {
        record_.scratch = make_scratch(scratch_parent(), host_, own_path());
    } catch (const batch_error& e) {
        return fail(std::string("vimsor-batch: ") + e.what() + "\n");
    }
    write_running();
    if (sds_ != nullptr)
        return process_day();
    vimsor_end end;
    try {
        end = run(entry_.input);
    } catch (const batch_error& e) {
        return fail(std::string("vimsor-batch: ") + e.what() + "\n");
    }
    append_to(log, end.errors.text());
    if (stop_signal != 0)
        return false;

    std::string missing;
    for (const std::string& output : entry_.outputs)
        if (access((work_dir(record_.scratch) + "/" + output).c_str(), F_OK) != 0)
            missing += " " + output;
    bool done = false;
    if (end.status != 0) {
        fail(vimsor_failure(end));
    } else if (!missing.empty()) {
        fail("vimsor-batch: vimsor ended with status 0 but wrote no" + missing + "\n");
    } else if (const std::string fault = move_outputs(); !fault.empty()) {
        fail("vimsor-batch: cannot move the output " + fault + " (input " + entry_.input + ") into " +
             layout_.out() + "\n");
    } else {
        done = true;
    }
    gather_logfile();
    return done && record_done("");
}

std::string input_run::vimsor_failure(const vimsor_end& end) const {
    const std::string message = end.exited ? end.errors.last_message() : "";
    return (message.empty() ? "" : message + "\n") + "vimsor-batch: vimsor ended " +
           (end.exited ? "with status " + std::to_string(end.status)
                       : "by signal " + signal_name(end.status - 128)) +
           " on " + host_ + "\n";
}

bool input_run::record_done(const std::string& text) {
    const std::string path = layout_.record(index_, record_state::done);
    if (const int error = replace_file(path, text); error != 0)
        throw batch_error("cannot write " + path + ": " + reason_of(error));
    unlink(layout_.record(index_, record_state::failed).c_str());
    return true;
}

// vimsor on one piece of the day, in the scratch's work/, where the day
// task finds its results.
void input_run::run_piece(const std::string& piece) {
    const vimsor_end end = run(piece);
    append_to(layout_.log(index_), end.errors.text());
    if (stop_signal != 0)
        throw piece_failure("vimsor-batch: stopped by signal " + signal_name(stop_signal) + "\n");
    if (end.status != 0)
        throw piece_failure(vimsor_failure(end));
}

// The day's pieces through vimsor and its results into out/'s trees, all
// of the day's files at once; the done record tells what status needs.
bool input_run::process_day() {
    std::string failure;
    sds::DayOutcome outcome;
    try {
        const run_options options =
            read_run_options(split_nul_terminated(read_file(layout_.options())));
        const sds::DayJob job{sds_->root,   sds_->elements, sds::parse_day(entry_.input),
                              options.values, work_dir(record_.scratch), layout_.out()};
        outcome = sds::run_day(job, [this](const std::filesystem::path& piece) {
            run_piece(piece.string());
        });
    } catch (const piece_failure& e) {
        failure = e.what();
    } catch (const std::exception& e) {  // sds::Error, batch_error: the day's own fault
        failure = std::string("vimsor-batch: ") + e.what() + "\n";
    }
    gather_logfile();
    if (stop_signal != 0)
        return false;
    if (!failure.empty())
        return fail(failure);
    append_to(layout_.log(index_), "vimsor-batch: " + std::to_string(outcome.pieces) +
                                       " piece(s), " + std::to_string(outcome.written.size()) +
                                       " day file(s) written" +
                                       (outcome.no_data ? std::string(" (") + sds::no_data_note + ")" : "") +
                                       "\n");
    return record_done(day_record_text(outcome));
}

}  // namespace

void clear_stale(const batch_layout& layout, std::size_t index, const running_record& record) {
    if (record.host == host_name()) {
        // A task whose run was killed had SIGTERM: it may be finishing its
        // outputs, which it is given time for, and then stops on its own.
        for (int wait = 0; wait < 250 && is_alive(record.task); ++wait)
            usleep(20000);
        stop_process(record.task);
        stop_session(record.session);
        if (!record.scratch.empty())
            if (const int error = remove_tree(record.scratch); error != 0)
                std::cerr << "vimsor-batch: cannot remove " << record.scratch << ": " << reason_of(error) << "\n";
    }
    unlink(layout.record(index, record_state::running).c_str());
}

int run_task(const task_setting& setting, const std::vector<std::size_t>& indices) {
    catch_stop_signals();
    remove_dead_scratch(scratch_parent(), host_name());
    const std::vector<planned_input> inputs =
        parse_manifest(read_file(setting.layout.manifest()), setting.layout.manifest());
    const std::optional<sds_batch> sds = open_sds(setting.layout);
    int result = 0;
    for (std::size_t index : indices) {
        if (index == 0 || index > inputs.size())
            throw batch_error("input " + std::to_string(index) + " is not in " + setting.layout.manifest());
        input_run run(setting, index, inputs[index - 1], sds ? &*sds : nullptr);
        const bool done = run.process();
        if (stop_signal != 0)
            return 128 + stop_signal;
        if (!done)
            result = 1;
    }
    return result;
}
