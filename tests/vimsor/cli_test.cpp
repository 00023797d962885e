#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "settings.h"

namespace {

TEST(GetNumbers, ConvertTheLeadingNumberDecimalHexAndOctal) {
    const std::pair<const char*, double> doubles[] = {{"0.25", 0.25}, {"0.1x", 0.1}, {"0", 0.0}, {"-3e2", -300.0}, {"  7", 7.0}};
    for (const auto& [text, value] : doubles)
        EXPECT_EQ(get_double(text), value) << text;
    const std::pair<const char*, unsigned long> unsigneds[] = {{"12", 12}, {"0x1f", 31}, {"010", 8}, {"4cpus", 4}, {"0", 0}};
    for (const auto& [text, value] : unsigneds)
        EXPECT_EQ(get_unsigned(text), value) << text;
}

// Text without a number and overflow are checked end to end through -v, --cpus and -c.
TEST(GetNumbersDeathTest, RejectsEmptyText) {
    EXPECT_EXIT(get_double(""), testing::ExitedWithCode(1), "^Error converting  to double\n$");
}

// Settings for one output-name case, put back afterwards.
class OutputPath : public testing::Test {
protected:
    void TearDown() override {
        output_name.clear();
        namebase = "vm";
        fout_extension = ".bi1";
    }
    std::string path_for(const std::string& input) {
        char path[260];
        output_path_for(input.c_str(), path);
        return path;
    }
};

TEST_F(OutputPath, IsTheInputFileNameWithTheExtensionInTheWorkingDirectory) {
    EXPECT_EQ(path_for("/data/k0105.raw"), "k0105.bi1");
    EXPECT_EQ(path_for("x.bi1"), "x.bi1");
    EXPECT_EQ(path_for(std::string(300, 'd') + "/f.raw"), "f.bi1");  // a long directory does no harm
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
    output_name = "out";
    namebase = "tmp";
    fout_extension = ".bi1";
    EXPECT_EQ(path_for("a.raw"), "out.bi1");
    EXPECT_EQ(namebase, "tmp");
}

using OutputPathDeathTest = OutputPath;

// Output names one byte too long are checked end to end.
TEST_F(OutputPathDeathTest, NamesThatDoNotFitEndTheRun) {
    output_name = std::string(255, 'o');
    EXPECT_EQ(path_for("a.raw").size(), 259u);  // just fits the 260-byte buffer
    output_name.clear();
    EXPECT_EXIT(path_for("dir/" + std::string(256, 'f') + ".raw"), testing::ExitedWithCode(1), "f+\\.raw: file name too long");
}

}  // namespace
