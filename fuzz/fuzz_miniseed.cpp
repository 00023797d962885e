// The nv tools' miniSEED reading and the alignment of its traces on
// arbitrary bytes. An input is read with every trace selected, or (odd first
// byte) with one pattern; what is read must be sound, and the traces of the
// first rate must align into blocks or be refused with a message.
//
// Heap allowance: Steim-2 packs up to 7 samples in 4 bytes, and each sample
// becomes an 8-byte double, so the decoded traces alone take up to 14 bytes
// per input byte, and their aligned blocks as much again. This target
// allows 32 bytes per input byte (plus the fixed allowance) instead of 16.
#include "align.h"
#include "fuzz_input.h"
#include "miniseed_read.h"

#include <libmseed.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr size_t bytes_per_input_byte = 32;

void quiet(char*) {}

void check_segments(const std::vector<nvtools::Segment>& segments) {
    for (const nvtools::Segment& segment : segments) {
        if (segment.values.empty())
            fuzz::fail("a segment without samples");
        if (!(segment.rate_hz > 0) || !std::isfinite(segment.rate_hz))
            fuzz::fail("a segment without a positive rate");
        if (segment.encodings.empty())
            fuzz::fail("a segment without an encoding");
        for (const double value : segment.values)
            if (!std::isfinite(value))
                fuzz::fail("a sample that is not a finite number");
    }
    for (size_t s = 1; s < segments.size(); ++s)
        if (segments[s].id == segments[s - 1].id &&
            segments[s].start_us < segments[s - 1].start_us)
            fuzz::fail("a trace's segments out of time order");
}

void check_alignment(const std::vector<nvtools::Segment>& segments) {
    const double rate = segments.front().rate_hz;
    std::vector<std::string> ids;
    for (const nvtools::Segment& segment : segments)
        if (ids.empty() || ids.back() != segment.id)
            ids.push_back(segment.id);
    try {
        for (const nvtools::AlignedBlock& block : nvtools::align_traces(segments, ids, rate)) {
            if (block.channels.size() != ids.size())
                fuzz::fail("a block without a channel per trace");
            for (const auto& channel : block.channels)
                if (channel.empty() || channel.size() != block.channels.front().size())
                    fuzz::fail("a block whose channels differ in length or are empty");
        }
    } catch (const std::runtime_error& e) {
        if (e.what()[0] == '\0')
            fuzz::fail("an alignment refused without a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool silenced = (ms_loginit(quiet, nullptr, quiet, nullptr), true);
    (void)silenced;
    const char* name = fuzz::input_file(data, size);
    std::vector<std::string> patterns;
    if (size > 0 && (data[0] & 1) != 0)
        patterns.emplace_back("*.A.*");
    fuzz::reset_peak();
    try {
        const std::vector<nvtools::Segment> segments = nvtools::read_miniseed(name, patterns);
        check_segments(segments);
        if (!segments.empty())
            check_alignment(segments);
    } catch (const std::runtime_error& e) {
        if (e.what()[0] == '\0')
            fuzz::fail("a refusal without a message");
    }
    fuzz::check_memory(size, bytes_per_input_byte);
    return 0;
}
