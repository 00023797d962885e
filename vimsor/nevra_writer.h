#pragma once

// The output writers: one output file per collection of analysis results,
// in the format the output mode selects. The base owns the output file, the
// scale factor and the comment-line terminator.

#include <cstddef>
#include <ios>
#include <memory>
#include <string>
#include <vector>

#include "atomic_output.h"

class nevra_writer {
public:
    // Starts fname with comnt followed by the terminator. The file is written
    // as an atomic_output: under a temporary name in its own directory,
    // renamed to fname only when complete, so an earlier fname stays
    // untouched until then and a failed run leaves neither (the temporary is
    // recorded for the clean-up). Devices and pipes are written in place. A
    // file that cannot be created ends the process with "can't open <fname>".
    // The open mode tells text from binary output, which Linux writes alike.
    nevra_writer(const char* fname, const char* comnt, char terminator,
                 std::ios::openmode open_mode);
    // Completes the file like close() when that has not been called.
    virtual ~nevra_writer();
    nevra_writer(const nevra_writer&) = delete;
    nevra_writer& operator=(const nevra_writer&) = delete;

    // One block of one channel: size values of data from offset on, stamped with time.
    virtual int write(double time, std::size_t size, const std::vector<double>& data,
                      std::size_t offset) const = 0;
    // The whole body of the file from the sample times t and the per-channel values data.
    virtual int write(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
                      std::size_t size) const = 0;

    void setscale(double scale) { m_scale = scale; }

    // Writes out everything still buffered, closes the file and puts it in
    // place under its name. When any byte could not be written, names the
    // file on the error stream and ends the process with status 1, so a lost
    // output never passes as written.
    void close();

    const std::string& file_name() const { return m_file_name; }

protected:
    double m_scale = 1.0;
    const char end_comment;

    // At least n free bytes in the output buffer; the caller fills some of
    // them and hands the end of what it wrote to commit().
    char* room(std::size_t n) const {
        if (m_capacity - m_fill < n)
            make_room(n);
        return m_buffer.get() + m_fill;
    }
    void commit(const char* end) const { m_fill = static_cast<std::size_t>(end - m_buffer.get()); }
    void put(const char* bytes, std::size_t n) const;

    // Ends the process with a message naming the file when a write has failed.
    void check_written() const;

    // The value conversion of the legacy writers: m_scale * v rounded with
    // halves away from zero. Outside the 16-bit range it writes the overflow
    // warning and still returns the full value.
    long long scaled_value(double v) const;

    // Minute of the day and second of the minute of a block time (the 'S'
    // time encoding of the legacy formats).
    struct block_time {
        long long minute;
        long long second;
    };
    static block_time block_time_words(double time);

    // The block-wise write of the legacy writers: one record per block start,
    // one block per channel. A block is written only while every channel
    // holds size values from that start, so a trailing partial block is left out.
    int write_blocks(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
                     std::size_t size) const;

    // Ends the process when a single-block write would read past data.
    void check_block_range(std::size_t size, const std::vector<double>& data,
                           std::size_t offset) const;

private:
    void open();
    void put_in_place();
    void write_out(const char* bytes, std::size_t n) const;
    void make_room(std::size_t n) const;
    void flush_buffer() const;
    [[noreturn]] void fail_write() const;

    std::string m_file_name;
    mutable atomic_output m_output;
    mutable std::size_t m_capacity;
    mutable std::unique_ptr<char[]> m_buffer;
    mutable std::size_t m_fill = 0;
    mutable int m_write_errno = 0;  // errno of the first failed write
    bool m_closed = false;
};

// Creates the writer that the output mode (setting mode) selects; the caller
// owns it and deletes it through this base.
nevra_writer* nevra_writer_detect(const char* fname, const char* comnt);
