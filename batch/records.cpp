#include "records.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "batch_error.h"
#include "files.h"

namespace {

std::string process_text(const process_id& process) {
    return std::to_string(process.pid) + " " + std::to_string(process.start);
}

process_id parse_process(const std::string& text) {
    process_id process;
    std::istringstream(text) >> process.pid >> process.start;
    return process;
}

// The index and state of a record's file name ("17.done"); index 0 when it is none.
std::size_t record_index(const std::string& name, std::string& state) {
    char* end = nullptr;
    const unsigned long index = std::strtoul(name.c_str(), &end, 10);
    if (end == name.c_str() || *end != '.')
        return 0;
    state = end + 1;
    return index;
}

}  // namespace

std::string running_record_text(const running_record& record) {
    return "host=" + record.host + "\nrunner=" + process_text(record.runner) +
           "\njob=" + record.job + "\ntask=" + process_text(record.task) +
           "\nsession=" + process_text(record.session) +
           "\nstarted=" + std::to_string(record.started) + "\nscratch=" + record.scratch;
}

running_record parse_running_record(const std::string& text) {
    running_record record;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t equals = text.find('=', start);
        if (equals == std::string::npos)
            break;
        const std::string key = text.substr(start, equals - start);
        if (key == "scratch") {
            record.scratch = text.substr(equals + 1);
            break;
        }
        const std::size_t end = std::min(text.find('\n', equals), text.size());
        const std::string value = text.substr(equals + 1, end - equals - 1);
        if (key == "host")
            record.host = value;
        else if (key == "runner")
            record.runner = parse_process(value);
        else if (key == "job")
            record.job = value;
        else if (key == "task")
            record.task = parse_process(value);
        else if (key == "session")
            record.session = parse_process(value);
        else if (key == "started")
            record.started = std::strtoll(value.c_str(), nullptr, 10);
        start = end + 1;
    }
    return record;
}

batch_records scan_records(const batch_layout& layout, std::size_t count) {
    batch_records records;
    records.inputs.resize(count + 1);
    for (std::size_t shard = 0; shard <= count / records_per_shard; ++shard) {
        const std::string directory = layout.shard(shard * records_per_shard);
        DIR* dir = opendir(directory.c_str());
        if (dir == nullptr) {
            if (errno == ENOENT)
                continue;
            throw batch_error("cannot read " + directory + ": " + reason_of(errno));
        }
        while (const dirent* entry = readdir(dir)) {
            std::string state;
            const std::size_t index = record_index(entry->d_name, state);
            if (index == 0 || index > count)
                continue;
            input_records& input = records.inputs[index];
            const std::string path = directory + "/" + entry->d_name;
            if (state == "running") {
                try {
                    records.running.emplace_back(index, parse_running_record(read_file(path)));
                } catch (const batch_error&) {
                    // gone since the listing: its run has ended
                }
                continue;
            }
            const bool done = state == "done";
            if (!done && state != "failed")
                continue;
            (done ? input.done : input.failed) = true;
            struct stat info;
            if (stat(path.c_str(), &info) == 0)
                input.finished = std::max(input.finished, info.st_mtime);
        }
        closedir(dir);  // read-only
    }
    return records;
}

bool liveness::is_live(const running_record& record) const {
    if (!record.job.empty())
        return std::find(active_arrays.begin(), active_arrays.end(), record.job) !=
               active_arrays.end();
    return record.host == host && process_alive(record.runner);
}

void mark_live(batch_records& records, const liveness& live) {
    for (const auto& [index, record] : records.running)
        if (live.is_live(record))
            records.inputs[index].running = true;
}
