#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <charconv>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "nevra_writer.h"
#include "nevra_writer_ascii.h"
#include "nevra_writer_binary.h"
#include "nevra_writer_tm4.h"
#include "run.h"
#include "saved_settings.h"

namespace {

namespace fs = std::filesystem;
using Channels = std::vector<std::vector<double>>;
using Times = std::vector<double>;

// Expected bytes, built here independently of the writers.
std::string le16(int word) {
    const auto bits = static_cast<std::uint16_t>(word);
    return {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8)};
}

std::string binary_block(int minute, int second, const std::vector<int>& words) {
    std::string s = le16(minute) + le16(second);
    for (int w : words)
        s += le16(w);
    return s;
}

const std::string bin_head = "!S512 test\x0D", text_head = "!S512 test\n";

template <class Writer>
std::string write_all(const Times& t, const Channels& data, std::size_t size, double scale = 1.0,
                      const char* comment = "!S512 test") {
    testrun::TempDir dir;
    const std::string name = (dir / "out").string();
    {
        Writer w(name.c_str(), comment);
        w.setscale(scale);
        w.write(t, data, size);
        w.close();
    }
    return testrun::read_file(name);
}

// The time of 2016-05-01 00:02:05.7 UTC: minute word 2, second word 5.
constexpr double t0 = 1462060925.7;

TEST(NevraWriterBinary, CommentEndsInCarriageReturnAndBlocksFollowInChannelOrder) {
    EXPECT_EQ(write_all<nevra_writer_binary>({t0, t0 + 0.5, t0 + 60.0, t0 + 60.5},
                                             {{1, 2, 3, 4}, {-1, -2, -3, -4}}, 2),
              bin_head + binary_block(2, 5, {1, 2}) + binary_block(2, 5, {-1, -2}) +
                  binary_block(3, 5, {3, 4}) + binary_block(3, 5, {-3, -4}));
    const std::string bytes = write_all<nevra_writer_binary>(
        Times(1024, t0), Channels(3, Times(1024, 7.0)), 512, 1.0, "!c");
    ASSERT_EQ(bytes.size(), 3u + 6u * 1028u);
    EXPECT_EQ(bytes.substr(0, 3), "!c\x0D");
    EXPECT_EQ(bytes.substr(3 + 5 * 1028, 6), le16(2) + le16(5) + le16(7));
}

TEST(NevraWriterLegacy, RoundsHalvesAwayFromZeroAfterScaling) {
    const Channels data{{2.5, -2.5, 0.49, -0.5, 1.5, 0.0, -0.0}};
    EXPECT_EQ(write_all<nevra_writer_ascii>({0.0}, data, 7), text_head + "0 0 3 -3 0 -1 2 0 0\n");
    EXPECT_EQ(write_all<nevra_writer_binary>({0.0}, data, 7),
              bin_head + binary_block(0, 0, {3, -3, 0, -1, 2, 0, 0}));
    EXPECT_EQ(write_all<nevra_writer_ascii>({0.0}, {{0.25, -1.2}}, 2, 10.0),
              text_head + "0 0 3 -12\n");
}

TEST(NevraWriterLegacy, OverflowWarnsAndWrapsInBinaryButNotInAscii) {
    const Channels data{{40.0, -40.0, 32.767}};
    const std::string warnings =
        "Warning:Scale to big, overflow in short, (-32768 <= 40000 < 32768)\n"
        "Warning:Scale to big, overflow in short, (-32768 <= -40000 < 32768)\n";
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_all<nevra_writer_binary>({t0}, data, 3, 1000.0),
              bin_head + binary_block(2, 5, {0x9C40, -40000 + 65536, 32767}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), warnings);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_all<nevra_writer_ascii>({t0}, data, 3, 1000.0),
              text_head + "2 5 40000 -40000 32767\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), warnings);
}

TEST(NevraWriterLegacy, TimeWordsAreMinuteOfDayAndSecond) {
    const std::pair<double, std::string> cases[] = {{t0, "2 5"},
                                                    {1462060800.0 + 86399.999, "1439 59"},
                                                    {1462060800.0 + 86400.0, "0 0"},
                                                    {59.9, "0 59"}};
    for (const auto& [time, words] : cases)
        EXPECT_EQ(write_all<nevra_writer_ascii>({time}, {{1.0}}, 1), text_head + words + " 1\n")
            << "time " << time;
}

TEST(NevraWriterLegacy, EmptyInputsAndTrailingPartialBlocksAreLeftOut) {
    for (std::size_t size : {512u, 0u}) {
        EXPECT_EQ(write_all<nevra_writer_binary>({}, Channels(3), size), bin_head);
        EXPECT_EQ(write_all<nevra_writer_ascii>({}, Channels(3), size), text_head);
    }
    // Size 0 must not loop forever over a non-empty time axis.
    EXPECT_EQ(write_all<nevra_writer_ascii>({1.0}, {{1.0}}, 0), text_head);
    // Six sample times but four values per channel: one whole block of 4.
    const Times t{0, 1, 2, 3, 4, 5};
    EXPECT_EQ(write_all<nevra_writer_ascii>(t, {{1, 2, 3, 4}, {5, 6, 7, 8, 9}}, 4),
              text_head + "0 0 1 2 3 4\n0 0 5 6 7 8\n");
    // One channel short of a whole second block: that block is left out for all.
    EXPECT_EQ(write_all<nevra_writer_ascii>(t, {{1, 2, 3, 4}, {5, 6, 7}}, 2),
              text_head + "0 0 1 2\n0 0 5 6\n");
    EXPECT_EQ(write_all<nevra_writer_binary>(t, {{1, 2, 3}}, 2),
              bin_head + binary_block(0, 0, {1, 2}));
    // Channels longer than the time axis: blocks start only at sample times.
    EXPECT_EQ(write_all<nevra_writer_ascii>({0, 1}, {{1, 2, 3, 4}}, 2), text_head + "0 0 1 2\n");
}

TEST(NevraWriterTm4, FixedTimeGeneralUnscaledValuesAndShortestSequence) {
    EXPECT_EQ(write_all<nevra_writer_tm4>({1462060800.0, 1462060800.05},
                                          {{0.5, 1234567.0}, {2e-07, -3.0}}, 512, 1000.0),
              text_head + "1462060800.000000 0.5 2e-07\n1462060800.050000 1.23457e+06 -3\n");
    const Times t{1, 2, 3};
    EXPECT_EQ(write_all<nevra_writer_tm4>(t, {{1, 2, 3, 4}, {5, 6}}, 512),
              text_head + "1.000000 1 5\n2.000000 2 6\n");
    EXPECT_EQ(write_all<nevra_writer_tm4>({1}, {{1, 2, 3}}, 512), text_head + "1.000000 1\n");
    EXPECT_EQ(write_all<nevra_writer_tm4>(t, {{}}, 512), text_head);
    EXPECT_EQ(write_all<nevra_writer_tm4>(t, Channels{}, 512), text_head);
}

TEST(NevraWriterTm4, LargeOutputCrossesTheBufferIntact) {
    Times t;
    Channels data(3);
    std::ostringstream expected;
    expected << text_head;
    for (int i = 0; i < 150000; ++i) {
        t.push_back(1e9 + i / 20.0);
        expected << std::fixed << t.back() << std::defaultfloat;
        for (int c = 0; c < 3; ++c) {
            data[c].push_back((i * 7919 + c * 104729) % 200003 / 7.0 - 14000.0);
            expected << ' ' << data[c].back();
        }
        expected << '\n';
    }
    EXPECT_EQ(write_all<nevra_writer_tm4>(t, data, 512), expected.str());
}

TEST(NevraWriterDetect, ModeSelectsTheWriter) {
    testrun::TempDir dir;
    const std::string name = (dir / "out").string();
    const saved_settings saved;
    const std::pair<output_modes_t, const char*> cases[] = {{OUTPUT_MODE_BINARY, "!x\x0D"},
                                                            {OUTPUT_MODE_ASCII, "!x\n"},
                                                            {OUTPUT_MODE_TM4, "!x\n"},
                                                            {OUTPUT_MODE_LAST, "!x\x0D"}};
    for (const auto& [m, bytes] : cases) {
        mode = m;
        std::unique_ptr<nevra_writer> w(nevra_writer_detect(name.c_str(), "!x"));
        EXPECT_EQ(dynamic_cast<nevra_writer_tm4*>(w.get()) != nullptr, m == OUTPUT_MODE_TM4);
        EXPECT_EQ(dynamic_cast<nevra_writer_ascii*>(w.get()) != nullptr, m == OUTPUT_MODE_ASCII);
        w.reset();  // the destructor completes the file
        EXPECT_EQ(testrun::read_file(name), bytes);
    }
}

TEST(NevraWriterDeathTest, UnopenableAndFullDevicesAreWriteErrorsNamingTheFile) {
    EXPECT_EXIT(nevra_writer_ascii("/nonexistent-dir/out.da1", "!x"), testing::ExitedWithCode(1),
                "^can't open /nonexistent-dir/out.da1\n$");
    // Small output only fails when the file is completed, by close() or by the destructor ...
    EXPECT_EXIT(nevra_writer_tm4("/dev/full", "!x").close(), testing::ExitedWithCode(1),
                "can't write /dev/full: No space left on device\n");
    EXPECT_EXIT(delete new nevra_writer_ascii("/dev/full", "!x"), testing::ExitedWithCode(1),
                "can't write /dev/full");
    // ... output larger than the buffer while it is written.
    const Times t(2048, t0);
    const Channels data(3, Times(2048, 1.0));
    EXPECT_EXIT(
        {
            nevra_writer_binary w("/dev/full", "!x");
            for (int i = 0; i < 400; ++i)
                w.write(t, data, 512);
            std::exit(0);
        },
        testing::ExitedWithCode(1), "can't write /dev/full");
}

TEST(NevraWriterDeathTest, ImpossibleSingleBlocksEndTheProcess) {
    const Times values(600, 1.0);
    EXPECT_EXIT(nevra_writer_tm4("/dev/null", "!x").write(0.0, 512, values, 0),
                testing::ExitedWithCode(1), "^Not implemented\n$");
    EXPECT_EXIT(nevra_writer_binary("/dev/null", "!x").write(0.0, 513, values, 0),
                testing::ExitedWithCode(1), "at most 512 values");
    EXPECT_EXIT(nevra_writer_ascii("/dev/null", "!x").write(0.0, 512, values, 100),
                testing::ExitedWithCode(1), "beyond the 600 values");
}

// An output file is written under a temporary name next to it and replaces
// the earlier file only when complete.
std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputReplacement, EarlierFileStaysUntilTheNewOneIsCompleteAndKeepsItsPermissions) {
    testrun::TempDir dir;
    testrun::write_file(dir / "out.da1", "earlier");
    ASSERT_EQ(chmod((dir / "out.da1").c_str(), 0640), 0);
    nevra_writer_ascii writer((dir / "out.da1").c_str(), "!x");
    writer.write({0.0}, {{1.0}}, 1);
    EXPECT_EQ(testrun::read_file(dir / "out.da1"), "earlier");
    const auto during = names_in(dir.path());
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].rfind(".out.da1.", 0), 0u) << during[0];

    writer.close();
    EXPECT_EQ(testrun::read_file(dir / "out.da1"), "!x\n0 0 1\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.da1"});
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.da1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(OutputReplacement, LinkKeepsLeadingToTheOutput) {
    testrun::TempDir dir;
    fs::create_directory(dir / "real");
    testrun::write_file(dir / "real/out.da1", "earlier");
    fs::create_symlink(dir / "real/out.da1", dir / "link.da1");
    nevra_writer_ascii((dir / "link.da1").c_str(), "!x").close();
    EXPECT_TRUE(fs::is_symlink(dir / "link.da1"));
    EXPECT_EQ(testrun::read_file(dir / "real/out.da1"), "!x\n");
    EXPECT_EQ(names_in(dir / "real"), std::vector<std::string>{"out.da1"});
}

// The writers and the job files rely on std::to_chars giving the stream's default text of a double.
TEST(NumberText, ToCharsGeneral6EqualsStreamDefault) {
    const double values[] = {0.0,
                             -0.0,
                             1e-5,
                             1e-4,
                             0.0001234565,
                             123456.0,
                             1234567.0,
                             999999.5,
                             0.5,
                             -2.5,
                             1.0 / 18,
                             1462060800.0,
                             1e300,
                             -1e-300,
                             5e-324,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             100000.5,
                             1e6};
    for (double v : values) {
        std::ostringstream stream;
        stream << v;
        char buffer[64];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6).ptr;
        EXPECT_EQ(std::string(buffer, end), stream.str()) << "value " << std::setprecision(17) << v;
    }
}

}  // namespace
