#pragma once

// An output file that appears complete or not at all.
//
// A regular file (or a name that does not exist yet) is written as
// ".<name>.XXXXXX" in its own directory and renamed to its name in one step
// once complete, keeping the permissions of the file it replaces; until then
// an earlier file of that name stays untouched, and a discarded output leaves
// nothing. Devices and FIFOs (/dev/null, /dev/full, a pipe) cannot be replaced
// by a rename, so they are written directly. A symbolic link is followed to
// the file it leads to, which is then replaced as above, so the link keeps
// leading to the output. An existing file that may not be written is not
// replaced either.
//
// Results are error numbers (0 for success); nothing here prints or ends the
// process. Failures are the system's own error numbers, and EIO for a failed
// stdio write whose reason the stream did not keep.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Records a temporary file with whatever removes the files of a failed or
// interrupted run, and forgets it once it is in place or removed. Both are
// called with every signal held, so no signal ends the process between the
// creation of a temporary and its record.
struct temporary_file_hook {
    void (*add)(const char* name);
    void (*forget)(const char* name);
};

class atomic_output {
public:
    // hook (which must outlive the output) may be null.
    explicit atomic_output(const temporary_file_hook* hook = nullptr) : m_hook(hook) {}
    // Discards an output that was not put in place.
    ~atomic_output();
    atomic_output(const atomic_output&) = delete;
    atomic_output& operator=(const atomic_output&) = delete;

    // Opens name for writing, as described above. Returns 0 or an error
    // number: EACCES for an existing file that may not be written, ELOOP for
    // a chain of links that does not end, otherwise what creating the
    // temporary or opening the device failed with.
    int open(const std::string& name);

    int fd() const { return m_fd; }
    // A stdio stream over fd(), made on the first call; null when it cannot
    // be made (errno tells why). close() closes it.
    std::FILE* stream();
    // True when the output goes straight to a device or FIFO.
    bool written_in_place() const { return m_temporary.empty(); }
    // The temporary file, empty when written in place.
    const std::string& temporary_name() const { return m_temporary; }
    // Where the output ends up: the name opened, or the file its link leads to.
    const std::string& target_name() const { return m_target; }

    // Writes all n bytes to fd(), going on after interruptions and partial
    // writes. Returns 0 or the error number of the failed write.
    int write(const void* bytes, std::size_t n);

    // Flushes and closes the stream or the descriptor. Returns 0 or the
    // error number of the first failure.
    int close();
    // Closes the output if still open and puts it in place: renames the
    // temporary to its target (nothing more for a device or FIFO). Returns 0
    // or the error number of the failed close or rename; the output is then
    // still discarded by discard() or the destructor.
    int commit();
    // Closes the output and removes the temporary unless it is in place.
    void discard();

private:
    void remove_temporary();

    const temporary_file_hook* m_hook;
    std::string m_target;
    std::string m_temporary;
    int m_fd = -1;
    std::FILE* m_stream = nullptr;
};

// Several outputs that appear all together or not at all: none is put in
// place before every one is complete, and when one cannot be put in place
// those already renamed are removed again, so a failure leaves none of the
// files the set writes (their earlier versions are gone only when the
// failure came after their rename). Files outside the set are left alone.
// Outputs written in place (devices, FIFOs) are written as they go.
class atomic_output_set {
public:
    // hook (which must outlive the set) may be null.
    explicit atomic_output_set(const temporary_file_hook* hook = nullptr) : m_hook(hook) {}
    // Discards every output not put in place.
    ~atomic_output_set() { discard(); }
    atomic_output_set(const atomic_output_set&) = delete;
    atomic_output_set& operator=(const atomic_output_set&) = delete;

    // Opens one more output (see atomic_output::open), which the set owns;
    // its commit() is the set's to call. Returns 0 or the error number.
    int open(const std::string& name, atomic_output*& output);

    // Closes every output, then puts every one in place. Returns 0 or the
    // error number of the first failure, with failed set to the index (in
    // the order opened) of the output concerned; everything the set wrote is
    // then removed.
    int commit(std::size_t& failed);
    // Removes every output of the set that is not in place yet.
    void discard();

private:
    const temporary_file_hook* m_hook;
    std::vector<std::unique_ptr<atomic_output>> m_outputs;
};
