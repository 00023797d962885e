#include "claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "batch_error.h"
#include "files.h"
#include "manifest.h"
#include "records.h"
#include "day_writer.h"
#include "scratch.h"
#include "sds_batch.h"
#include "slurm.h"
#include "task.h"

batch_claim::batch_claim(const batch_layout& layout) {
    lock_ = open(layout.manifest().c_str(), O_RDONLY | O_CLOEXEC);
    if (lock_ < 0)
        throw batch_error("cannot open " + layout.manifest() + ": " + reason_of(errno));
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(lock_);
        throw batch_error(error == EWOULDBLOCK ? "another vimsor-batch run works on " + layout.dir
                                               : "cannot lock " + layout.manifest() + ": " + reason_of(error));
    }
    std::string arrays;
    for (const std::string& array : active_arrays(layout))
        arrays += " " + array;
    if (!arrays.empty()) {
        close(lock_);
        throw batch_error("Slurm array(s)" + arrays + " still work on " + layout.dir +
                          " (wait for them or scancel them)");
    }
    // Nothing works on the batch now: whatever a killed run left goes.
    const std::size_t count = parse_manifest(read_file(layout.manifest()), layout.manifest()).size();
    for (const auto& [index, record] : scan_records(layout, count).running)
        clear_stale(layout, index, record);
    remove_dead_scratch(scratch_parent(), host_name());
    if (remove_tree(layout.staging()) != 0 || make_directories(layout.staging()) != 0) {
        close(lock_);
        throw batch_error("cannot clear " + layout.staging());
    }
    if (open_sds(layout)) {  // a day's commit cut short leaves its temporaries in out/
        try {
            sds::remove_leftover_temporaries(layout.out());
        } catch (const sds::Error& e) {
            close(lock_);
            throw batch_error(e.what());
        }
    }
}

batch_claim::~batch_claim() { close(lock_); }
