#include "collect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "row_files.h"
#include "run.h"
#include "saved_settings.h"
#include "settings.h"
#include "stores.h"

namespace {

namespace fs = std::filesystem;

// What the stream's extraction of doubles reads from text, one after another.
std::vector<double> stream_numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> numbers;
    double x;
    while (in >> x)
        numbers.push_back(x);
    return numbers;
}

TEST(AppendNumbers, ReadsExactlyWhatStreamExtractionReads) {
    // clang-format off
    const char* texts[] = {
        "1 2 3", "  -0.5\n+2e3\t.5\r\n", "1e", "1e+", "7 1e5e3", "2 inf 3", "nan", "+-1", "-inf",
        "1x2", "1e400 5", "-1e400", "1e-400 5", "4e-320 1", "0x1p3", "-.e5", "1..2", "+.5", "",
        "   ", "5-3", "1.5E-3", "1e5.3", ".", "-", "0.1 0.2 0.30000000000000004",
        "123456789012345678901234567890", "1e-5 -0", "2.5e+", "3 4 x 5",
        "1.7976931348623157e308 1.8e308",
    };
    // clang-format on
    for (const char* text : texts) {
        const std::vector<double> expected = stream_numbers(text);
        std::vector<double> got{42.0};  // appends, keeps what is there
        const std::size_t count = append_numbers(text, text + std::strlen(text), got);
        ASSERT_EQ(count, expected.size()) << '"' << text << '"';
        ASSERT_EQ(got.size(), expected.size() + 1) << '"' << text << '"';
        EXPECT_EQ(got[0], 42.0);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(std::memcmp(&got[i + 1], &expected[i], sizeof(double)), 0)
                << '"' << text << "\" number " << i << ": " << got[i + 1] << " vs " << expected[i];
        }
    }
}

// Runs write_file in a temporary directory with TM4 output, so the collected
// slots can be read back as text.
class WriteFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::current_path(m_dir.path());
        namebase = "vm";
        global_nr_cpus = 2;
        mode = OUTPUT_MODE_TM4;
        bandp = false;
        quiet = 1;
        debug = 0;
        firstline = "!S512Tidserier test";
        time_array = {10.0, 10.5, 11.0, 11.5};
        processed.assign(3, {});
    }
    void result(std::size_t row, const char* extension, const std::string& text) {
        testrun::write_file(m_dir / (row2basename(row) + extension), text);
    }
    std::string output(const char* name) { return testrun::read_file(m_dir / name); }

    testrun::TempDir m_dir;
    saved_settings m_saved;  // made after m_dir, so put back before it goes
};

TEST_F(WriteFileTest, FillsSlotsRowByRowInRowOrder) {
    // Three slots and six rows: rows 0 and 3 fill slot 0, 1 and 4 slot 1, 2 and 5 slot 2.
    for (std::size_t r = 0; r < 6; ++r)
        result(r, ".siw", std::to_string(r * 10) + "\n" + std::to_string(r * 10 + 1) + "\n");
    processed[1] = {99.0};  // a previous collection's values are dropped
    write_file("k.tm4_1", weak, 6, 2);
    EXPECT_EQ(processed[0], (std::vector<double>{0, 1, 30, 31}));
    EXPECT_EQ(processed[1], (std::vector<double>{10, 11, 40, 41}));
    EXPECT_EQ(processed[2], (std::vector<double>{20, 21, 50, 51}));
    EXPECT_EQ(output("k.tm4_1"),
              "!S512Tidserier test\n"
              "10.000000 0 10 20\n10.500000 1 11 21\n11.000000 30 40 50\n11.500000 31 41 51\n");
}

TEST_F(WriteFileTest, EmptyResultFileAddsNothingAndStrongUsesSisAndDigitTwo) {
    result(0, ".sis", "1 2");
    result(1, ".sis", "");
    result(2, ".sis", "5 6");
    result(3, ".sis", "3 4 junk 9");  // reading stops at the first non-number
    result(4, ".sis", "7 8");
    result(5, ".sis", "9 10");
    write_file("k.tm4_1", strong, 6, 2);
    EXPECT_EQ(processed[0], (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(processed[1], (std::vector<double>{7, 8}));
    EXPECT_FALSE(fs::exists(m_dir / "k.tm4_1"));
    EXPECT_TRUE(fs::exists(m_dir / "k.tm4_2"));
}

TEST_F(WriteFileTest, BandPassWritesDigitThreeAndZeroRowsWritesOnlyTheComment) {
    bandp = true;
    write_file("k.tm4_1", weak, 0, 512);
    EXPECT_EQ(output("k.tm4_3"), "!S512Tidserier test\n");
    for (const auto& slot : processed)
        EXPECT_TRUE(slot.empty());
}

TEST_F(WriteFileTest, MissingResultFileEndsTheRunNamingIt) {
    global_nr_cpus = 4;
    processed.assign(1, {});
    for (std::size_t r = 0; r < 7; ++r)
        result(r, ".siw", "1");
    EXPECT_EXIT(write_file("k.tm4_1", weak, 10, 512), ::testing::ExitedWithCode(1),
                "can't open vmd0007.siw\n");
}

TEST_F(WriteFileTest, DebugListsEveryResultNameOnTheErrorStream) {
    debug = 1;
    result(0, ".siw", "1");
    result(1, ".siw", "2");
    ::testing::internal::CaptureStderr();
    write_file("k.tm4_1", weak, 2, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "vma0000.siw\nvmb0001.siw\n");
}

}  // namespace
