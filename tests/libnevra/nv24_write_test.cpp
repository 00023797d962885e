// The block-format writer: the same bytes as the test tree's own writer, and
// loaded back by NEVRA24 with every word, the start and the rate unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "nevra24.h"
#include "nevra24_write.h"
#include "nv24_writer.h"
#include "run.h"

using namespace Nevra;

namespace {

constexpr int32_t int_min = std::numeric_limits<int32_t>::min();
constexpr int32_t int_max = std::numeric_limits<int32_t>::max();

struct Case {
    int64_t start_ns;
    double rate;
    std::vector<std::vector<int32_t>> samples;  // per channel
};

NV24Recording recording_of(const Case& c) {
    NV24Recording rec{c.start_ns, c.rate, kiruna2, {}};
    for (size_t k = 0; k < c.samples.size(); ++k)
        rec.channels.push_back(
            {static_cast<uint16_t>(k + 1), -5.0 - k, 5.0 + k, 0.25 * k, c.samples[k]});
    return rec;
}

// The same recording through the test tree's writer.
std::string independent_bytes(const Case& c) {
    const size_t n = c.samples.size();
    nv24w::File file = nv24w::make_file(static_cast<unsigned>(n), c.rate,
                                        static_cast<uint32_t>(c.start_ns / 1000000000),
                                        static_cast<uint32_t>(c.start_ns % 1000000000));
    file.header.station = kiruna2;
    file.header.channel_bitmap = n >= 32 ? 0xffffffffu : (1u << n) - 1;
    file.header.bits_per_sample = 32;
    for (size_t k = 0; k < n; ++k)
        file.channels[k] = {.channel = static_cast<uint16_t>(k),
                            .gain = static_cast<uint16_t>(k + 1),
                            .v_min = -5.0 - k,
                            .v_max = 5.0 + k,
                            .ext_gain = 0.25 * k};
    for (size_t i = 0; i < c.samples[0].size(); ++i)
        for (size_t k = 0; k < n; ++k)
            file.samples.push_back(static_cast<uint32_t>(c.samples[k][i]));
    return nv24w::encode(file);
}

TEST(Nv24Write, SameBytesAsTheTestWriterAndReadBackExactly) {
    const std::vector<int32_t> edges{int_min, int_max, -1, 0, 1 << 23, -(1 << 23), 8388607};
    const Case cases[] = {
        {1714521600'123456789, 100.0012283, {edges, edges, edges}},
        {0, 20.0, {{7}}},
        {4294967295'999999999, 1e-3, {{1, 2}, {3, 4}, {5, 6}, {7, 8}}},
        {1, 1e300, {std::vector<int32_t>(40, -2)}},
        {1714521600'000000000, 100.0, std::vector<std::vector<int32_t>>(255, {int_max, 3})},
        {1714521600'000000000, 20.0, {{}, {}, {}}},
    };
    testrun::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start_ns);
        std::ostringstream out;
        write_nv24(out, recording_of(c));
        EXPECT_EQ(out.str(), independent_bytes(c));

        const std::string file = (dir / "rec.nv24").string();
        write_nv24_file(file, recording_of(c));
        const NEVRA24 back(file.c_str());
        EXPECT_EQ(back.get_header().common.m_seconds, c.start_ns / 1000000000);
        EXPECT_EQ(back.get_header().common.m_nanoseconds, c.start_ns % 1000000000);
        EXPECT_EQ(back.get_frequency(), c.rate);
        EXPECT_EQ(back.get_header().header.m_station, kiruna2);
        ASSERT_EQ(back.get_channels().size(), c.samples.size());
        for (size_t k = 0; k < c.samples.size(); ++k)
            EXPECT_EQ(back.get_data(k), c.samples[k]) << "channel " << k;
        const double start = static_cast<double>(c.start_ns) / 1e9;
        ASSERT_EQ(back.get_time().size(), c.samples[0].size());
        for (size_t i = 0; i < back.get_time().size(); ++i)
            EXPECT_NEAR(back.get_time(i), start + static_cast<double>(i) / c.rate, 1e-6) << i;
    }
}

TEST(Nv24Write, RefusesWhatTheFormatCannotHoldBeforeWriting) {
    const std::vector<int32_t> one{1};
    const struct {
        Case c;
        std::string message;
    } refusals[] = {
        {{0, 20.0, {}}, "an nv24 file holds 1 to 255 channels, not 0"},
        {{0, 20.0, std::vector<std::vector<int32_t>>(256, one)},
         "an nv24 file holds 1 to 255 channels, not 256"},
        {{0, 0.0, {one}}, "an nv24 file needs a positive, finite rate, not 0"},
        {{0, std::nan(""), {one}}, "an nv24 file needs a positive, finite rate, not nan"},
        {{0, HUGE_VAL, {one}}, "an nv24 file needs a positive, finite rate, not inf"},
        {{-1, 20.0, {one}}, "an nv24 file's start lies in 1970 .. 2106, not at -1 ns since 1970"},
        {{4294967296'000000000, 20.0, {one}},
         "an nv24 file's start lies in 1970 .. 2106, not at 4294967296000000000 ns since 1970"},
        {{0, 20.0, {one, {1, 2}}},
         "the channels of an nv24 file hold equally many samples, not 1 and 2"},
    };
    for (const auto& r : refusals) {
        std::ostringstream out;
        EXPECT_EQ(testrun::error_text([&] { write_nv24(out, recording_of(r.c)); }), r.message);
        EXPECT_EQ(out.str(), "");
    }
    testrun::TempDir dir;
    const std::string missing = (dir / "no/such/dir.nv24").string();
    EXPECT_EQ(testrun::error_text([&] {
                  write_nv24_file(missing, recording_of({0, 20.0, {one}}));
              }),
              missing + ": cannot be created: No such file or directory");
}

}  // namespace
