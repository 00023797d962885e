#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "nevra_writer_ascii.h"
#include "nevra_writer_binary.h"
#include "nevra_writer_tm4.h"
#include "run.h"

namespace {

using Channels = std::vector<std::vector<double>>;
using Times = std::vector<double>;

// 16-bit little-endian words, built here independently of the writers.
std::string words(const std::vector<int>& values) {
    std::string s;
    for (int w : values)
        s += {static_cast<char>(w & 0xFF), static_cast<char>((w >> 8) & 0xFF)};
    return s;
}

const std::string bin_head = "!S512 test\x0D", text_head = "!S512 test\n";

template <class Writer>
std::string write_all(const Times& t, const Channels& data, std::size_t size, double scale) {
    testrun::TempDir dir;
    const std::string name = (dir / "out").string();
    Writer w(name.c_str(), "!S512 test");
    w.setscale(scale);
    w.write(t, data, size);
    w.close();
    return testrun::read_file(name);
}

// The time of 2016-05-01 00:02:05.7 UTC: minute word 2, second word 5.
constexpr double t0 = 1462060925.7;

// Rows: the writer, times, channels, block size, scale, the whole file and the warnings.
TEST(NevraWriter, WritesTheFormatsBytesAndLeavesOutPartialBlocks) {
    const auto ascii = write_all<nevra_writer_ascii>, binary = write_all<nevra_writer_binary>,
               tm4 = write_all<nevra_writer_tm4>;
    const Channels halves{{2.5, -2.5, 0.49, -0.5, 1.5, 0.0, -0.0}};
    const Channels big{{40.0, -40.0, 32.767, -32.768, 32.768, -32.769}};
    const std::string over =
        "Warning:Scale to big, overflow in short, (-32768 <= 40000 < 32768)\n"
        "Warning:Scale to big, overflow in short, (-32768 <= -40000 < 32768)\n"
        "Warning:Scale to big, overflow in short, (-32768 <= 32768 < 32768)\n"
        "Warning:Scale to big, overflow in short, (-32768 <= -32769 < 32768)\n";
    const Times t{0, 1, 2, 3, 4, 5};
    const double day = 1462060800.0;
    const struct {
        std::string (*write)(const Times&, const Channels&, std::size_t, double);
        Times t;
        Channels data;
        std::size_t size;
        double scale;
        std::string bytes, warnings = "";
    } cases[] = {
        // clang-format off
        // Halves round away from zero after scaling.
        {ascii, {0}, halves, 7, 1, text_head + "0 0 3 -3 0 -1 2 0 0\n"},
        {binary, {0}, halves, 7, 1, bin_head + words({0, 0, 3, -3, 0, -1, 2, 0, 0})},
        // Beyond 16 bits: a warning, and the binary word wraps.
        {binary, {t0}, big, 6, 1000, bin_head + words({2, 5, 0x9C40, -40000, 32767, -32768, 32768,
         -32769}), over},
        {ascii, {t0}, big, 6, 1000, text_head + "2 5 40000 -40000 32767 -32768 32768 -32769\n", over},
        // The time words: minute of the day and second.
        {ascii, {day + 86399.999}, {{1}}, 1, 1, text_head + "1439 59 1\n"},
        {ascii, {day + 86400}, {{1}}, 1, 1, text_head + "0 0 1\n"},
        {ascii, {59.9}, {{1}}, 1, 1, text_head + "0 59 1\n"},
        // Empty inputs, block size 0 (no endless loop) and partial blocks.
        {binary, {}, Channels(3), 512, 1, bin_head},
        {ascii, {1}, {{1}}, 0, 1, text_head},
        {ascii, t, {{1, 2, 3, 4}, {5, 6, 7, 8, 9}}, 4, 1, text_head + "0 0 1 2 3 4\n0 0 5 6 7 8\n"},
        // One channel short of a whole second block: that block is left out for all.
        {ascii, t, {{1, 2, 3, 4}, {5, 6, 7}}, 2, 1, text_head + "0 0 1 2\n0 0 5 6\n"},
        // Channels longer than the time axis: blocks start only at sample times.
        {ascii, t, {{1, 2, 3, 4, 5, 6, 7, 8}}, 2, 1, text_head + "0 0 1 2\n0 2 3 4\n0 4 5 6\n"},
        // TM4: fixed times, general unscaled values, lines for the shortest sequence.
        {tm4, {day, day + 0.05}, {{0.5, 1234567.0}, {2e-07, -3.0}}, 512, 1000,
         text_head + "1462060800.000000 0.5 2e-07\n1462060800.050000 1.23457e+06 -3\n"},
        {tm4, t, {{1, 2, 3, 4}, {5, 6}}, 512, 1, text_head + "0.000000 1 5\n1.000000 2 6\n"},
        {tm4, {1}, {{1, 2, 3}}, 512, 1, text_head + "1.000000 1\n"},
        {tm4, t, {{}}, 512, 1, text_head},
        {tm4, t, {}, 512, 1, text_head},
        // clang-format on
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.write(c.t, c.data, c.size, c.scale), c.bytes) << "row " << &c - cases;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warnings) << "row " << &c - cases;
    }
}

// Outputs that cannot be opened (no such directory; a directory is not a regular file, so it is
// opened in place), the destructor completing the file, a write error while output larger than the
// buffer is written, and single blocks no caller may ask for.
TEST(NevraWriterDeathTest, WriteErrorsAndImpossibleBlocksEndTheProcessNamingTheFile) {
    const Times values(600, 1.0);
    // Devices of the test's own when run as root: a writer that wrongly replaced its output by a
    // rename would replace these, not the system's.
    testrun::TempDir devices;
    const std::string full = testrun::device(devices.path(), "full");
    const std::string null = testrun::device(devices.path(), "null");
    const std::string no_space = "^can't write " + full + ": No space left on device\n$";
    const std::string null_block =
        "^can't write " + null + ": a binary block holds at most 512 values, not 513\n$";
    const std::string null_range = "^internal error writing " + null +
                                   ": block of 512 values at 100 lies beyond the 600 values of "
                                   "its channel\n$";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { nevra_writer_binary("/no such dir/out.bi1", "!x"); },
         "^can't open /no such dir/out.bi1\n$"},
        {[] { nevra_writer_binary("/tmp", "!x"); }, "^can't open /tmp\n$"},
        {[&] { delete new nevra_writer_ascii(full.c_str(), "!x"); }, no_space},
        {[&] {
             nevra_writer_binary w(full.c_str(), "!x");
             for (int i = 0; i < 400; ++i)
                 w.write(Times(2048, t0), Channels(3, Times(2048, 1.0)), 512);
             std::exit(0);
         },
         no_space},
        {[&] { nevra_writer_tm4(null.c_str(), "!x").write(0.0, 512, values, 0); },
         "^Not implemented\n$"},
        {[&] { nevra_writer_binary(null.c_str(), "!x").write(0.0, 513, values, 0); }, null_block},
        {[&] { nevra_writer_ascii(null.c_str(), "!x").write(0.0, 512, values, 100); }, null_range},
    };
    for (const auto& [run, message] : cases)
        EXPECT_EXIT(run(), testing::ExitedWithCode(1), message) << message;
}

}  // namespace
