#pragma once

// The batch directory DIR and where everything lives in it:
//   manifest            the planned inputs, in order (input n is entry n, from 1)
//   options             the vimsor options of every run
//   sds                 of a batch over an SDS archive: its root and elements
//   records/S/n.STATE   the state of input n (S = n / 1000): n.done, n.failed
//                       (the error, then the batch's lines), n.running (its run)
//   logs/n.log          the input's name, then the standard output and error of its last run
//   out/                the finished outputs; a file appears there only when complete
//   staging/            outputs on their way into out/, GNU parallel's temporary files
//   logfile             the invocation lines of every finished run
//   parallel.joblog     GNU parallel's job log;  jobs  the Slurm array ids;
//   slurm/              the array tasks' logs;   arrays/  the submitted lists and scripts

#include <cstddef>
#include <string>

enum class record_state { done, failed, running };

struct batch_layout {
    std::string dir;  // absolute

    std::string manifest() const { return dir + "/manifest"; }
    std::string options() const { return dir + "/options"; }
    std::string sds() const { return dir + "/sds"; }
    std::string records() const { return dir + "/records"; }
    std::string shard(std::size_t index) const;
    std::string record(std::size_t index, record_state state) const;
    std::string log(std::size_t index) const;
    std::string out() const { return dir + "/out"; }
    std::string staging() const { return dir + "/staging"; }
    std::string logfile() const { return dir + "/logfile"; }
    std::string joblog() const { return dir + "/parallel.joblog"; }
    std::string jobs() const { return dir + "/jobs"; }
    std::string slurm() const { return dir + "/slurm"; }
    std::string arrays() const { return dir + "/arrays"; }
};

constexpr std::size_t records_per_shard = 1000;

const char* state_name(record_state state);

// The layout of an existing plan in dir; throws batch_error when dir holds none.
batch_layout open_batch(const std::string& dir);
