#include "cli.h"

#include <gtest/gtest.h>

#include <string>

#include "settings.h"

namespace {

TEST(GetDouble, ConvertsTheLeadingNumber) {
    EXPECT_EQ(get_double("0.25"), 0.25);
    EXPECT_EQ(get_double("0.1x"), 0.1);
    EXPECT_EQ(get_double("0"), 0.0);
    EXPECT_EQ(get_double("-3e2"), -300.0);
    EXPECT_EQ(get_double("  7"), 7.0);
}

TEST(GetDoubleDeathTest, RejectsTextWithoutANumber) {
    EXPECT_EXIT(get_double("abc"), testing::ExitedWithCode(1), "^Error converting abc to double\n$");
    EXPECT_EXIT(get_double(""), testing::ExitedWithCode(1), "^Error converting  to double\n$");
}

TEST(GetUnsigned, ReadsDecimalHexAndOctal) {
    EXPECT_EQ(get_unsigned("12"), 12ul);
    EXPECT_EQ(get_unsigned("0x1f"), 31ul);
    EXPECT_EQ(get_unsigned("010"), 8ul);
    EXPECT_EQ(get_unsigned("4cpus"), 4ul);
    EXPECT_EQ(get_unsigned("0"), 0ul);
}

TEST(GetUnsignedDeathTest, RejectsNonNumbersAndOverflow) {
    EXPECT_EXIT(get_unsigned("many"), testing::ExitedWithCode(1), "^Error converting many to double\n$");
    EXPECT_EXIT(get_unsigned("99999999999999999999999"), testing::ExitedWithCode(1), "^strtoul: ");
}

// Settings for one output-name case, put back afterwards.
class OutputPath : public testing::Test {
protected:
    void TearDown() override {
        output_name.clear();
        namebase = "vm";
        fout_extension = ".bi1";
    }
    std::string path_for(const char* input) {
        char path[260];
        output_path_for(input, path);
        return path;
    }
};

TEST_F(OutputPath, IsTheInputFileNameWithTheExtensionInTheWorkingDirectory) {
    EXPECT_EQ(path_for("/data/k0105.raw"), "k0105.bi1");
    EXPECT_EQ(path_for("x.bi1"), "x.bi1");
    fout_extension = ".tm4_1";
    EXPECT_EQ(path_for("D:\\in\\a.b.nv24"), "a.b.tm4_1");
    EXPECT_EQ(path_for("noext"), "noext.tm4_1");
    EXPECT_EQ(namebase, "vm");
}

TEST_F(OutputPath, OutputNameReplacesTheFileNameAndTheDefaultNamebase) {
    output_name = "res/out";
    fout_extension = ".da1";
    EXPECT_EQ(path_for("/data/a.raw"), "res/out.da1");
    EXPECT_EQ(path_for("b.raw"), "res/out.da1");
    EXPECT_EQ(namebase, "res/out");
}

TEST_F(OutputPath, ExplicitNamebaseIsKept) {
    output_name = "out";
    namebase = "tmp";
    EXPECT_EQ(path_for("a.raw"), "out.bi1");
    EXPECT_EQ(namebase, "tmp");
}

TEST_F(OutputPath, LongDirectoryOfTheInputDoesNoHarm) {
    const std::string input = std::string(300, 'd') + "/f.raw";
    EXPECT_EQ(path_for(input.c_str()), "f.bi1");
}

using OutputPathDeathTest = OutputPath;

TEST_F(OutputPathDeathTest, NamesThatDoNotFitEndTheRun) {
    output_name = std::string(256, 'o');
    EXPECT_EXIT(path_for("a.raw"), testing::ExitedWithCode(1), "-o o+: output name too long");
    output_name = std::string(255, 'o');
    EXPECT_EQ(path_for("a.raw").size(), 259u);  // just fits the 260-byte buffer
    fout_extension = ".tm4_1";
    EXPECT_EXIT(path_for("a.raw"), testing::ExitedWithCode(1), "a.raw: output name o+\\.tm4_1 too long");
    output_name.clear();
    const std::string input = "dir/" + std::string(256, 'f') + ".raw";
    EXPECT_EXIT(path_for(input.c_str()), testing::ExitedWithCode(1), "f+\\.raw: file name too long");
}

}  // namespace
