#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "saved_settings.h"

namespace {

TEST(GetNumbers, ConvertTheLeadingNumberDecimalHexAndOctal) {
    const std::pair<const char*, double> doubles[] = {
        {"0.25", 0.25}, {"0.1x", 0.1}, {"0", 0.0}, {"-3e2", -300.0}, {"  7", 7.0}};
    for (const auto& [text, value] : doubles)
        EXPECT_EQ(get_double(text), value) << text;
    const std::pair<const char*, unsigned long> unsigneds[] = {
        {"12", 12}, {"0x1f", 31}, {"010", 8}, {"4cpus", 4}, {"0", 0}};
    for (const auto& [text, value] : unsigneds)
        EXPECT_EQ(get_unsigned(text), value) << text;
    // Text without a number and overflow are checked end to end through -v, --cpus and -c.
    EXPECT_EXIT(get_double(""), testing::ExitedWithCode(1), "^Error converting  to double\n$");
}

std::string path_for(const std::string& input) {
    char path[260];
    output_path_for(input.c_str(), path);
    return path;
}

TEST(OutputPath, IsTheInputFileNameOrTheOutputNameWithTheExtension) {
    const saved_settings saved;
    struct Case {
        std::string output_name;
        const char* extension;
        std::string input;
        const char* path;
        const char* namebase_after;
    };
    const Case cases[] = {
        {"", ".bi1", "/data/k0105.raw", "k0105.bi1", "vm"},
        {"", ".bi1", "x.bi1", "x.bi1", "vm"},
        {"", ".bi1", std::string(300, 'd') + "/f.raw", "f.bi1",
         "vm"},  // a long directory does no harm
        {"", ".tm4_1", "D:\\in\\a.b.nv24", "a.b.tm4_1", "vm"},
        {"", ".tm4_1", "noext", "noext.tm4_1", "vm"},
        {"res/out", ".da1", "/data/a.raw", "res/out.da1", "res/out"},
        {std::string(255, 'o'), ".bi1", "a.raw", nullptr, nullptr},  // 259 bytes just fit
    };
    for (const Case& c : cases) {
        output_name = c.output_name;
        fout_extension = c.extension;
        namebase = "vm";
        const std::string path = path_for(c.input);
        if (c.path == nullptr) {
            EXPECT_EQ(path.size(), 259u);
            continue;
        }
        EXPECT_EQ(path, c.path) << c.input;
        EXPECT_EQ(namebase, c.namebase_after) << c.input;
    }
    output_name = "out";  // a namebase given on its own stays
    namebase = "tmp";
    EXPECT_EQ(path_for("a.raw"), "out.bi1");
    EXPECT_EQ(namebase, "tmp");
}

// Output names one byte too long are checked end to end.
TEST(OutputPathDeathTest, NamesThatDoNotFitEndTheRun) {
    const saved_settings saved;
    output_name.clear();
    EXPECT_EXIT(path_for("dir/" + std::string(256, 'f') + ".raw"), testing::ExitedWithCode(1),
                "f+\\.raw: file name too long");
}

}  // namespace
