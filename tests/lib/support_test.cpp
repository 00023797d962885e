// The support library: argument files, bounded copies, the invocation log, path pieces.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "at_file.h"
#include "compat.h"
#include "logfile.h"
#include "mypath.h"
#include "run.h"

// A C library may declare strlcpy itself; this declaration proves that compat's coexist with it.
extern "C" std::size_t strlcpy(char*, const char*, std::size_t) noexcept;

namespace {

using testrun::read_file;
using testrun::TempDir;
using testrun::write_file;
using Args = std::vector<std::string>;

// The arguments rebuild_argv makes of args (and whether it kept the array); restores them after.
std::pair<Args, bool> rebuild(Args args) {
    std::vector<char*> pointers;
    for (auto& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    char** argv = pointers.data();
    EXPECT_EQ(rebuild_argv(&argc, &argv), 0);
    std::pair<Args, bool> r{Args(argv, argv + argc), argv == pointers.data()};
    EXPECT_EQ(argv[argc], nullptr);
    EXPECT_EQ(restore_argv(&argc, &argv, static_cast<int>(args.size()), pointers.data()), 0);
    EXPECT_EQ(argv, pointers.data());
    return r;
}

TEST(RebuildArgv, FileLinesTakeTheirPlaceLiterallyInOrderWithLimits) {
    TempDir dir;
    const auto at = [&](const std::string& name) { return "@" + (dir / name).string(); };
    write_file(dir / "opts", "-d\n2.5\nk0105.raw\n");
    write_file(dir / "one", "--quiet");  // no line feed at the end
    write_file(dir / "f", "-o my file\n\"q\" \r\n\n#comment\n  #not a comment\n");
    write_file(dir / "long", std::string(5000, 'x') + "\n" + std::string(4095, 'y') + "\nz\n");
    write_file(dir / "inner", "i1\ni2\n");
    write_file(dir / "outer", "o1\n" + at("inner") + "\no2\n");
    write_file(dir / "self", "a\n" + at("self") + "\n" + at("self") + "\nb\n");
    const int files = max_argument_file_depth + 1;  // 1 names 2, ..., 32 names 33
    for (int i = 1; i <= files; ++i)
        write_file(
            dir / std::to_string(i),
            "l" + std::to_string(i) + "\n" + (i < files ? at(std::to_string(i + 1)) + "\n" : ""));
    Args deep{"p"};
    for (int i = 1; i <= max_argument_file_depth; ++i)
        deep.push_back("l" + std::to_string(i));
    deep.push_back(at("33"));
    const struct {
        Args args, expected;
        std::string err;  // a text the error stream holds
    } cases[] = {
        {{"vimsor", at("opts"), "b.raw"}, {"vimsor", "-d", "2.5", "k0105.raw", "b.raw"}, ""},
        {{"vimsor", "$" + (dir / "one").string()}, {"vimsor", "--quiet"}, ""},
        {{"p", at("f")}, {"p", "-o my file", "\"q\" \r", "", "  #not a comment"}, ""},
        // Pieces of 4095; a line filling the buffer exactly gives no empty argument.
        {{"p", at("long")},
         {"p", std::string(4095, 'x'), std::string(905, 'x'), std::string(4095, 'y'), "z"},
         ""},
        {{"p", "#gone", "@/nonexistent/missing", "$", "x"},
         {"p", "@/nonexistent/missing", "$", "x"},
         ""},
        {{"p", at("outer"), "end"}, {"p", "o1", "i1", "i2", "o2", "end"}, ""},
        {{"p", at("self")}, {"p", "a", at("self"), at("self"), "b"}, "names itself"},
        {{"p", at("1")}, deep, (dir / "33").string()},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const auto [args, same] = rebuild(c.args);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(args, c.expected) << c.args[1];
        EXPECT_FALSE(same) << c.args[1];
        EXPECT_EQ(err.find(c.err) != std::string::npos, true) << err;
        EXPECT_EQ(err.empty(), c.err.empty()) << err;
    }
    // Nothing special (a directory is no argument file) leaves the array as it was.
    const Args plain{"p", "-d", "2", "@" + dir.path().string(), ""};
    EXPECT_EQ(rebuild(plain), std::make_pair(plain, true));
}

TEST(Compat, StrlcpyAndStrlcatCutToTheBufferAndReturnTheUncutLength) {
    const struct {
        bool cat;
        const char *before, *s;
        std::size_t size;
        const char* after;
        std::size_t result;
    } cases[] = {
        {false, "xxxx", "abcdef", 4, "abc", 6},
        {false, "xxxx", "ab", 4, "ab", 2},
        {false, "xxxx", "abc", 4, "abc", 3},
        {false, "xy", "abcdef", 0, "xy", 6},
        {true, "ab", "cd", 8, "abcd", 4},
        {true, "ab", "cdefgh", 6, "abcde", 8},
        {true, "ab", "cdef", 5, "abcd", 6},
        {true, "abc", "x", 4, "abc", 4},
        {true, "", "xyz", 3, "xy", 3},
        {true, "ab", "", 3, "ab", 2},
        // No NUL within the stated size: never read or written past it.
        {true, "abcdef", "xy", 4, "abcdef", 6},
        {true, "abcdef", "xy", 0, "abcdef", 2},
    };
    for (const auto& c : cases) {
        char d[16];
        std::memset(d, '#', sizeof d);
        std::strcpy(d, c.before);
        EXPECT_EQ((c.cat ? compat::strlcat : compat::strlcpy)(d, c.s, c.size), c.result) << c.s;
        EXPECT_STREQ(d, c.after) << c.before << (c.cat ? "+" : "=") << c.s << " in " << c.size;
    }
}

// The entry logged for args (in the POSIX time locale) without its time stamp.
std::string entry_for(std::vector<std::string> args) {
    TempDir dir;
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    setenv("LC_ALL", "C", 1);
    flogfile((dir / "log").c_str(), static_cast<int>(argv.size()), argv.data());
    unsetenv("LC_ALL");
    const std::string line = read_file(dir / "log");
    std::smatch m;
    EXPECT_TRUE(
        std::regex_search(line, m, std::regex("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << line;
    return line.substr(m.length());
}

TEST(Flogfile, ArgumentsWithBlanksCommasOrAsterisksAreQuoted) {
    EXPECT_EQ(entry_for({"vimsor", "-d", "2", "k0105.raw"}), " vimsor -d 2 k0105.raw\n");
    EXPECT_EQ(entry_for({"vimsor", "", "x"}), " vimsor  x\n");
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", "a\"b\\c"},  // no blank, comma or asterisk: plain
        {"a b.raw", "\"a b.raw\""},
        {"a,b", "\"a,b\""},
        {"*.raw", "\"*.raw\""},
        {"--options=--swatch -#2sf128", "--options=\"--swatch -#2sf128\""},
        {"--x y", "\"--x y\""},
        {"-o=a b", "\"-o=a b\""},
        {"--k=v=w x", "--k=\"v=w x\""},
        {"dir\\a b", "\"dir\\\\a b\""},
        {"a \"b\" c", "\"a \\\"b\\\" c\""}};
    for (const auto& [arg, logged] : cases)
        EXPECT_EQ(entry_for({"p", arg}), " p " + logged + "\n") << arg;
    // Mostly double quotes: the quoted form is twice as long as the argument.
    const std::string quotes(300, '"');
    std::string escaped;
    for (char q : quotes)
        escaped += std::string("\\") + q;
    EXPECT_EQ(entry_for({"p", quotes + " x"}), " p \"" + escaped + " x\"\n");
}

char name_p[] = "p";
char* argv_p[] = {name_p};

TEST(Flogfile, AppendsLinesFallsBackToTheNumericStampAndReportsAnUnopenableLog) {
    TempDir dir;
    const std::string log = (dir / "log").string();
    flogfile(log.c_str(), 1, argv_p);
    flogfile(log.c_str(), 1, argv_p);
    EXPECT_TRUE(std::regex_match(read_file(log), std::regex("([^\n]* p\n){2}"))) << read_file(log);
    testing::internal::CaptureStderr();
    flogfile("/nonexistent-dir/logfile", 1, argv_p);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No logfile entry\n");
    // A locale whose date form alone is longer than the 30-byte stamp.
    const std::string months =
        "\"Jan\";\"Feb\";\"Mar\";\"Apr\";\"May\";\"Jun\";\"Jul\";\"Aug\";"
        "\"Sep\";\"Oct\";\"Nov\";\"Dec\"\n";
    const std::string days = "\"Sun\";\"Mon\";\"Tue\";\"Wed\";\"Thu\";\"Fri\";\"Sat\"\n";
    write_file(
        dir / "long.def",
        "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_TIME\nabday " + days + "day " + days +
            "abmon " + months + "mon " + months +
            "d_t_fmt \"%c\"\nd_fmt \"day %d of month %m of the year %Y of the common era\"\n"
            "t_fmt \"%H:%M:%S\"\nam_pm \"AM\";\"PM\"\nt_fmt_ampm \"%I:%M:%S %p\"\nEND LC_TIME\n");
    const std::string build = "localedef -c -i " + (dir / "long.def").string() +
                              " -f ANSI_X3.4-1968 " + (dir / "xx_LONG").string() +
                              " >/dev/null 2>&1";
    if (std::system(build.c_str()) == -1 || !std::filesystem::exists(dir / "xx_LONG" / "LC_TIME"))
        GTEST_SKIP() << "localedef cannot build a test locale here";
    setenv("LOCPATH", dir.path().c_str(), 1);
    setenv("LC_ALL", "xx_LONG", 1);
    flogfile((dir / "long").c_str(), 1, argv_p);
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    EXPECT_TRUE(std::regex_match(read_file(dir / "long"),
                                 std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d p\n")))
        << read_file(dir / "long");
}

#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer reserves far more address space
// Logs arg with the address space limited to what is in use plus 16 MiB: too little to quote it.
[[noreturn]] void log_under_memory_limit(const std::string& log, std::string arg) {
    char* argv[] = {name_p, arg.data()};
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + (16 << 20);
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0)
        _exit(3);
    flogfile(log.c_str(), 2, argv);
    _exit(0);
}

TEST(FlogfileDeathTest, ArgumentThatCannotBeQuotedIsLoggedPlain) {
    TempDir dir;
    const std::string big = "a b" + std::string(64 << 20, '"');
    EXPECT_EXIT(log_under_memory_limit((dir / "log").string(), big), testing::ExitedWithCode(0),
                "");
    EXPECT_TRUE(read_file(dir / "log").ends_with(" p " + big + "\n"));
}
#endif

TEST(ExplodePath, SplitsIntoDriveDirectoryFileAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "|||"},
        {"abc", "||abc|"},
        {"/abc", "|/|abc|"},
        {"dir/file.txt", "|dir/|file|.txt"},
        {"x/y.tar.gz", "|x/|y.tar|.gz"},
        {"dir.d/file", "|dir.d/|file|"},
        {"dir/.hidden", "|dir/||.hidden"},
        {".profile", "|||.profile"},
        {"file.", "||file|."},
        {"..", "||.|."},
        {"dir/", "|dir/||"},
        {"D:file.txt", "D:||file|.txt"},
        {"D:\\dir\\file.txt", "D:|\\dir\\|file|.txt"},
        {"a:b/c:d/e", "a:b/c:|d/|e|"},
        {"/.x", "|/||.x"},
        {nullptr, "|||"}};  // a null path empties every buffer
    for (const auto& [path, pieces] : cases) {
        char b[4][256];
        std::memset(b, '#', sizeof b);
        EXPECT_EQ(explode_path(path, b[0], b[1], b[2], b[3]), 0);
        EXPECT_EQ(std::string(b[0]) + "|" + b[1] + "|" + b[2] + "|" + b[3], pieces);
    }
}

TEST(ExplodePath, PieceTooLongStopsAtOnceAndMissingBuffersAreSkipped) {
    // Sizes of drive, directory, file name and extension (0: no buffer); the result; the pieces.
    const struct {
        const char* path;
        std::size_t sizes[4];
        int result;
        const char* pieces;
    } cases[] = {
        {"dir/file.txt", {8, 8, 4, 8}, ENAMETOOLONG, "||fil|.txt"},
        {"D:dir/f.x", {8, 4, 4, 8}, ENAMETOOLONG, "|dir|f|.x"},
        {"a/very-long-directory/f.extension", {0, 0, 4, 0}, 0, "##|##|f|##"},
        {"x", {0, 0, 4, 1}, 0, "##|##|x|"},
    };
    for (const auto& c : cases) {
        char b[4][8];
        char* buffers[4];
        for (int i = 0; i < 4; ++i) {
            std::strcpy(b[i], "##");
            buffers[i] = c.sizes[i] == 0 ? nullptr : b[i];
        }
        EXPECT_EQ(explode_path_n(c.path, buffers[0], c.sizes[0], buffers[1], c.sizes[1], buffers[2],
                                 c.sizes[2], buffers[3], c.sizes[3]),
                  c.result);
        EXPECT_EQ(std::string(b[0]) + "|" + b[1] + "|" + b[2] + "|" + b[3], c.pieces) << c.path;
    }
    // A zero-sized buffer is rejected, nothing written.
    char untouched[4] = "abc", filename[4];
    EXPECT_EQ(explode_path_n("x", nullptr, 0, nullptr, 0, filename, 4, untouched, 0), ENAMETOOLONG);
    EXPECT_STREQ(untouched, "abc");
}

TEST(CombinePath, JoinsPiecesWithTheirDelimitersCutToTheBuffer) {
    const std::string name(255, 'n');
    const struct {
        std::size_t size;
        const char *drive, *directory, *filename, *extension;
        int result;
        std::string path;
    } cases[] = {
        {260, nullptr, nullptr, "run", "siw", 0, "run.siw"},
        {260, nullptr, nullptr, "run", ".siw", 0, "run.siw"},
        {260, "D", "dir", "f", nullptr, 0, "D:dir/f"},
        {260, "D:", "dir\\", "f", "", 0, "D:dir\\f"},
        {260, "", "", "", "", 0, ""},
        {260, nullptr, "/", "a", ".bi1", 0, "/a.bi1"},
        {9, nullptr, nullptr, "file", "siw", 0, "file.siw"},
        {8, nullptr, nullptr, "file", "siw", ENAMETOOLONG, "file.si"},
        {3, "D", "dir", nullptr, nullptr, ENAMETOOLONG, "D:"},
        {260, nullptr, nullptr, name.c_str(), ".da1", 0, name + ".da1"},
        {260, nullptr, nullptr, name.c_str(), ".tm4_1", ENAMETOOLONG, name + ".tm4"},
        {0, nullptr, nullptr, "f", nullptr, ENAMETOOLONG, "#"},  // nothing written
    };
    for (const auto& c : cases) {
        char path[300];
        std::memset(path, '#', sizeof path);
        path[sizeof path - 1] = '\0';
        const int result =
            c.size == 260
                ? combine_path(path, c.drive, c.directory, c.filename, c.extension)
                : combine_path_n(path, c.size, c.drive, c.directory, c.filename, c.extension);
        EXPECT_EQ(result, c.result) << c.path;
        // The path, its NUL, and nothing written after it.
        EXPECT_EQ(std::string(path, c.path.size() + 2),
                  c.path + (c.size != 0 ? std::string(1, '\0') : "#") + "#");
    }
    EXPECT_EQ(combine_path_n(nullptr, 0, nullptr, nullptr, "f", nullptr), 0);
}

}  // namespace
