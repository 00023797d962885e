#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "saved_settings.h"

namespace {

// Decimal text and errors are checked end to end through -v, -d, --cpus and -c.
TEST(GetUnsigned, ConvertsTheLeadingNumberDecimalHexAndOctal) {
    const std::pair<const char*, unsigned long> cases[] = {
        {"12", 12}, {"0x1f", 31}, {"010", 8}, {"4cpus", 4}, {"0", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(get_unsigned(text), value) << text;
}

std::string path_for(const std::string& input) {
    char path[260];
    output_path_for(input.c_str(), path);
    return path;
}

// Output names one byte too long are checked end to end.
TEST(OutputPath, IsTheInputFileNameOrTheOutputNameWithTheExtension) {
    const saved_settings saved;
    const std::string o255(255, 'o');
    const struct {
        std::string output_name, namebase, input, path, namebase_after;
    } cases[] = {
        {"", "vm", std::string(300, 'd') + "/f.raw", "f.bi1", "vm"},  // a long directory is no harm
        {"res/out", "vm", "/data/a.raw", "res/out.bi1", "res/out"},
        {"out", "tmp", "a.raw", "out.bi1", "tmp"},   // a namebase given on its own stays
        {o255, "vm", "a.raw", o255 + ".bi1", o255},  // 259 bytes just fit
    };
    fout_extension = ".bi1";
    for (const auto& c : cases) {
        output_name = c.output_name;
        namebase = c.namebase;
        EXPECT_EQ(path_for(c.input), c.path) << c.input;
        EXPECT_EQ(namebase, c.namebase_after) << c.input;
    }
}

TEST(OutputPathDeathTest, InputFileNamesThatDoNotFitEndTheRun) {
    const saved_settings saved;
    output_name.clear();
    EXPECT_EXIT(path_for("dir/" + std::string(256, 'f') + ".raw"), testing::ExitedWithCode(1),
                "^vimsor: dir/f{256}\\.raw: file name too long \\(at most 255 bytes\\)\n$");
}

}  // namespace
