#pragma once

// The worker processes: the worker count, their shell command lines, and
// starting them and waiting for them.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// Worker letters run from 'a' to 'z'.
inline constexpr std::size_t max_workers = 26;

// The number of processors online; 1 when the system cannot tell.
unsigned int get_number_of_cpus();

// The worker count for what the system reported as processors online: the
// count itself, or 1 when the report is an error (-1) or no count.
unsigned int processors_or_one(long online);

// Sets global_nr_cpus to the processor count when it is 0, caps it at
// max_workers with a warning, and reports it ("Found N cpus").
void set_worker_count();

// Starts cmd as the command line of "/bin/sh -c" and returns the child's id.
// Ends the process when no child can be created.
pid_t start_process(const char* cmd);

// text as one shell word: unchanged when it holds no blank or shell
// metacharacter, otherwise in single quotes.
std::string shell_word(const std::string& text);

// The /bin/sh command line of worker k (0-based) over the job files of rows
// 0 .. rows-1. invocation is the analysis program with its options, up to
// the blank before the job base name. While rows <= 10000 this is one run
// over the pattern <namebase><letter>????.dat; beyond that further runs
// cover the longer row numbers, each with at most argument_bytes bytes of
// expanded file names (names, terminators and argument pointers).
std::string worker_command(const std::string& invocation, std::size_t k, std::size_t rows,
                           std::size_t argument_bytes);

// The expanded-name bytes one analysis run may take: a share of the system's
// limit on the argument length.
std::size_t argument_budget();

// Starts one worker per command, echoing each ("/bin/sh <command>"), then
// waits for all of them in start order ("Waiting for pid ...").
void run_workers(const std::vector<std::string>& commands);
