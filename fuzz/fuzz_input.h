// Shared by the fuzz targets: the input bytes as a file that the readers open
// by name, and the limits every input must keep (a clear message or a sound
// recording, heap use bounded by a small multiple of the input's size).
#pragma once

#include "nevra_base.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

namespace fuzz {

// Writes the bytes into this process's in-memory scratch file; returns its name.
const char* input_file(const uint8_t* data, size_t size);

// Aborts with the reason on standard error, so that every engine sees a crash.
[[noreturn]] void fail(const char* what, const char* detail = "");

// Peak of live heap bytes since the last reset, held against the fixed
// allowance plus bytes_per_input_byte (16 unless a target shows why it needs more).
void reset_peak();
void check_memory(size_t input_size, size_t bytes_per_input_byte = 16);

// A loaded recording must be usable by the pipeline.
void check_recording(const Nevra::Nevra_Base& recording);

// Runs one load on the input: a std::exception with a message is a refusal;
// a null result is the "no reader" answer of detection.
template <class Load>
void run_load(const uint8_t* data, size_t size, Load load) {
    const char* name = input_file(data, size);
    reset_peak();
    try {
        const std::unique_ptr<Nevra::Nevra_Base> recording(load(name));
        if (recording)
            check_recording(*recording);
    } catch (const std::exception& e) {
        if (e.what()[0] == '\0')
            fail("a refusal without a message");
    }
    check_memory(size);
}

}  // namespace fuzz
