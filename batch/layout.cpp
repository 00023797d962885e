#include "layout.h"

#include <unistd.h>

#include "batch_error.h"
#include "files.h"

std::string batch_layout::shard(std::size_t index) const {
    return records() + "/" + std::to_string(index / records_per_shard);
}

std::string batch_layout::record(std::size_t index, record_state state) const {
    return shard(index) + "/" + std::to_string(index) + "." + state_name(state);
}

std::string batch_layout::log(std::size_t index) const {
    return dir + "/logs/" + std::to_string(index) + ".log";
}

const char* state_name(record_state state) {
    switch (state) {
    case record_state::done: return "done";
    case record_state::failed: return "failed";
    case record_state::running: return "running";
    }
    return "";
}

batch_layout open_batch(const std::string& dir) {
    batch_layout layout{absolute_path(dir)};
    if (access(layout.manifest().c_str(), R_OK) != 0)
        throw batch_error(dir + " holds no plan (no " + dir +
                          "/manifest); run: vimsor-batch plan DIR ...");
    return layout;
}
