#include "at_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "run.h"

namespace {

using testrun::TempDir;
using testrun::write_file;
using Args = std::vector<std::string>;

// Runs rebuild_argv over args and gives the resulting arguments; restores
// the vector afterwards, so every test also exercises restore_argv.
struct Rebuilt {
    Args args;
    bool same_array = false;
};

Rebuilt rebuild(Args args) {
    std::vector<char*> pointers;
    for (auto& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    char** argv = pointers.data();
    EXPECT_EQ(rebuild_argv(&argc, &argv), 0);
    Rebuilt r;
    r.same_array = argv == pointers.data();
    for (int i = 0; i < argc; ++i)
        r.args.emplace_back(argv[i]);
    EXPECT_EQ(argv[argc], nullptr);
    EXPECT_EQ(restore_argv(&argc, &argv, static_cast<int>(args.size()), pointers.data()), 0);
    EXPECT_EQ(argv, pointers.data());
    return r;
}

TEST(RebuildArgv, FileLinesTakeItsPlaceLiterallyAndInOrder) {
    TempDir dir;
    const auto at = [&](const char* name) { return (dir / name).string(); };
    write_file(dir / "opts", "-d\n2.5\nk0105.raw\n");
    write_file(dir / "one", "--quiet");  // one line, no line feed at the end
    write_file(dir / "f", "-o my file\n\"q\" \r\n\n#comment\n  #not a comment\n");
    write_file(dir / "long", std::string(5000, 'x') + "\n" + std::string(4095, 'y') + "\nz\n");
    write_file(dir / "inner", "i1\ni2\n");
    write_file(dir / "outer", "o1\n@" + at("inner") + "\no2\n");
    const std::pair<Args, Args> cases[] = {
        {{"vimsor", "@" + at("opts"), "b.raw"}, {"vimsor", "-d", "2.5", "k0105.raw", "b.raw"}},
        {{"vimsor", "$" + at("one")}, {"vimsor", "--quiet"}},
        {{"p", "@" + at("f")}, {"p", "-o my file", "\"q\" \r", "", "  #not a comment"}},
        // Long lines are split into pieces of 4095; a line that fills the buffer
        // exactly gives no empty argument for its line feed.
        {{"p", "@" + at("long")}, {"p", std::string(4095, 'x'), std::string(905, 'x'), std::string(4095, 'y'), "z"}},
        {{"p", "#gone", "@/nonexistent/missing", "$", "x"}, {"p", "@/nonexistent/missing", "$", "x"}},
        {{"p", "@" + at("outer"), "end"}, {"p", "o1", "i1", "i2", "o2", "end"}},
    };
    for (const auto& [args, expected] : cases) {
        const Rebuilt r = rebuild(args);
        EXPECT_EQ(r.args, expected) << args[1];
        EXPECT_FALSE(r.same_array) << args[1];
    }
    // Nothing special leaves the array as it was.
    const Rebuilt same = rebuild({"p", "-d", "2", "@" + dir.path().string() /* a directory */, ""});
    EXPECT_TRUE(same.same_array);
    EXPECT_EQ(same.args, (Args{"p", "-d", "2", "@" + dir.path().string(), ""}));
}

TEST(RebuildArgv, NestingStopsAt32Levels) {
    TempDir dir;
    const int files = max_argument_file_depth + 1;
    for (int i = 1; i <= files; ++i) {
        const std::string next = i < files ? "@" + (dir / std::to_string(i + 1)).string() + "\n" : "";
        write_file(dir / std::to_string(i), "l" + std::to_string(i) + "\n" + next);
    }
    testing::internal::CaptureStderr();
    const Rebuilt r = rebuild({"p", "@" + (dir / "1").string()});
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r.args.size(), 1u + max_argument_file_depth + 1);
    EXPECT_EQ(r.args[32], "l32");
    EXPECT_EQ(r.args.back(), "@" + (dir / "33").string());
    EXPECT_NE(err.find((dir / "33").string()), std::string::npos) << err;
}

TEST(RebuildArgv, SelfIncludingFileIsPassedOnWithAMessage) {
    TempDir dir;
    const std::string self = "@" + (dir / "self").string();
    write_file(dir / "self", "a\n" + self + "\n" + self + "\nb\n");
    testing::internal::CaptureStderr();
    const Rebuilt r = rebuild({"p", self});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.args, (Args{"p", "a", self, self, "b"}));
    EXPECT_NE(err.find("names itself"), std::string::npos) << err;
}

}  // namespace
