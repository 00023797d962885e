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

// append_numbers appends to what is there exactly the doubles, bit for bit,
// that the stream's extraction reads one after another from the text.
TEST(AppendNumbers, ReadsExactlyWhatStreamExtractionReads) {
    // clang-format off
    const char* texts[] = {
        "1 2 3", "  -0.5\n+2e3\t.5\r\n", "1e", "1e+", "7 1e5e3", "2 inf 3", "nan", "+-1", "-inf",
        "1x2", "1e400 5", "-1e400", "1e-400 5", "4e-320 1", "0x1p3", "-.e5", "1..2", "+.5", "",
        "   ", "5-3", "1.5E-3", "1e5.3", ".", "-", "0.1 0.2 0.30000000000000004",
        "123456789012345678901234567890", "1e-5 -0", "1.7976931348623157e308 1.8e308"};
    // clang-format on
    for (const char* text : texts) {
        std::istringstream in(text);
        std::vector<double> expected{42.0};
        for (double x; in >> x;)
            expected.push_back(x);
        std::vector<double> got{42.0};
        EXPECT_EQ(append_numbers(text, text + std::strlen(text), got), expected.size() - 1) << text;
        ASSERT_EQ(got.size(), expected.size()) << '"' << text << '"';
        EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size() * sizeof(double)), 0)
            << '"' << text << '"';
    }
}

// Six rows over three slots: rows 0 and 3 fill slot 0, 1 and 4 slot 1, 2 and 5
// slot 2. Strong results, band-pass names and short result files are checked
// end to end.
TEST(WriteFile, FillsSlotsRowByRowInRowOrderListingTheNamesInDebug) {
    testrun::TempDir dir;
    const saved_settings saved;  // made after dir, so put back before it goes
    fs::current_path(dir.path());
    namebase = "vm";
    global_nr_cpus = 2;
    mode = OUTPUT_MODE_TM4;
    quiet = 1;
    debug = 1;
    firstline = "!S512Tidserier test";
    time_array = {10.0, 10.5, 11.0, 11.5};
    processed = {{}, {99.0}, {}};  // a previous collection's values are dropped
    for (std::size_t r = 0; r < 6; ++r)
        testrun::write_file(dir / (row2basename(r) + ".siw"),
                            std::to_string(r * 10) + "\n" + std::to_string(r * 10 + 1) + "\n");
    ::testing::internal::CaptureStderr();
    write_file("k.tm4_1", weak, 6, 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vma0000.siw\nvmb0001.siw\nvma0002.siw\nvmb0003.siw\nvma0004.siw\nvmb0005.siw\n");
    EXPECT_EQ(testrun::read_file(dir / "k.tm4_1"),
              "!S512Tidserier test\n"
              "10.000000 0 10 20\n10.500000 1 11 21\n11.000000 30 40 50\n11.500000 31 41 51\n");
}

}  // namespace
