// The support library: argument files, bounded copies, the invocation log, path pieces.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "at_file.h"
#include "atomic_output.h"
#include "compat.h"
#include "logfile.h"
#include "mypath.h"
#include "run.h"

// A C library may declare strlcpy itself; this declaration proves that compat's coexist with it.
extern "C" std::size_t strlcpy(char*, const char*, std::size_t) noexcept;

namespace {

namespace fs = std::filesystem;
using testrun::names_in;
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
    // A line that starts with NUL gives an empty argument; the last line has no line feed.
    write_file(dir / "f",
               std::string("\0hidden\n", 8) + "-o my file\n\"q\" \r\n\n#comment\n  #not a comment");
    write_file(dir / "long", std::string(5000, 'x') + "\n" + std::string(4095, 'y') + "\nz\n");
    write_file(dir / "inner", "i1\ni2\n");
    write_file(dir / "outer", "o1\n$" + (dir / "inner").string() + "\no2\n");
    write_file(dir / "self", "a\n" + at("self") + "\n" + at("self") + "\nb\n");
    Args deep{"p"};  // file 1 names 2, ..., 32 names 33, which is one too deep
    for (int i = 1; i <= max_argument_file_depth + 1; ++i) {
        write_file(dir / std::to_string(i),
                   "l" + std::to_string(i) + "\n" + at(std::to_string(i + 1)) + "\n");
        deep.push_back(i <= max_argument_file_depth ? "l" + std::to_string(i) : at("33"));
    }
    const struct {
        Args args, expected;
        std::string err;  // a text the error stream holds
    } cases[] = {
        {{"p", at("f"), "#gone", "@/nonexistent/missing", "$", "b"},
         {"p", "", "-o my file", "\"q\" \r", "", "  #not a comment", "@/nonexistent/missing", "$",
          "b"},
         ""},
        // Pieces of 4095; a line filling the buffer exactly gives no empty argument.
        {{"p", at("long")},
         {"p", std::string(4095, 'x'), std::string(905, 'x'), std::string(4095, 'y'), "z"},
         ""},
        {{"p", at("outer"), "end"}, {"p", "o1", "i1", "i2", "o2", "end"}, ""},
        {{"p", at("self")}, {"p", "a", at("self"), at("self"), "b"}, "names itself"},
        {{"p", at("1")}, deep, (dir / "33").string()},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(rebuild(c.args), std::make_pair(c.expected, false)) << c.args[1];
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
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
        {false, "xy", "abcdef", 0, "xy", 6},
        {true, "ab", "cd", 8, "abcd", 4},
        {true, "ab", "cdef", 5, "abcd", 6},
        {true, "abc", "x", 4, "abc", 4},
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

// The log file after logging args with LC_ALL set to locale.
std::string logged(Args args, const char* locale) {
    TempDir dir;
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    setenv("LC_ALL", locale, 1);
    flogfile((dir / "log").c_str(), static_cast<int>(argv.size()), argv.data());
    unsetenv("LC_ALL");
    return read_file(dir / "log");
}

TEST(Flogfile, ArgumentsWithBlanksCommasOrAsterisksAreQuoted) {
    const std::string quotes(300, '"');  // quoted, twice as long as the argument
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a\"b\\c", "a\"b\\c"},  // no blank, comma or asterisk: plain
        {"a,b", "\"a,b\""},
        {"*.raw", "\"*.raw\""},
        {"--x y", "\"--x y\""},
        {"-o=a b", "\"-o=a b\""},
        {"--k=v=w x", "--k=\"v=w x\""},
        {"dir\\a b", "\"dir\\\\a b\""},
        {"a \"b\" c", "\"a \\\"b\\\" c\""},
        {quotes + " x", "\"" + std::regex_replace(quotes, std::regex("\""), "\\\"") + " x\""}};
    const std::regex entry(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d p (.*)\n)");
    for (const auto& [arg, quoted] : cases) {
        const std::string log = logged({"p", arg}, "C");
        std::smatch m;
        ASSERT_TRUE(std::regex_match(log, m, entry)) << log;
        EXPECT_EQ(m[1], quoted) << arg;
    }
}

TEST(Flogfile, LongDateFormFallsBackToTheNumericStampAndUnopenableLogIsReported) {
    testing::internal::CaptureStderr();
    flogfile("/nonexistent-dir/logfile", 0, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No logfile entry\n");
    // A locale whose date form alone outgrows the 30-byte stamp; localedef -c fills in the rest.
    TempDir dir;
    write_file(dir / "long.def",
               "LC_TIME\nd_fmt \"day %d of month %m of the year %Y of the common era\"\n"
               "END LC_TIME\n");
    const std::string build = "localedef -c -i " + (dir / "long.def").string() +
                              " -f ANSI_X3.4-1968 " + (dir / "xx_LONG").string() +
                              " >/dev/null 2>&1";
    if (std::system(build.c_str()) == -1 || !std::filesystem::exists(dir / "xx_LONG" / "LC_TIME"))
        GTEST_SKIP() << "localedef cannot build a test locale here";
    setenv("LOCPATH", dir.path().c_str(), 1);
    const std::string log = logged({"p"}, "xx_LONG");
    unsetenv("LOCPATH");
    EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d p\n)"))) << log;
}

TEST(ExplodePath, SplitsIntoPiecesThatCombinePathJoinsAgain) {
    using Sizes = std::array<std::size_t, 4>;  // drive, directory, file name, extension; 0: none
    const Sizes full{256, 256, 256, 256};
    const struct {
        const char* path;
        Sizes sizes;
        int result;
        const char* pieces;
    } cases[] = {
        {"", full, 0, "|||"},
        {"/abc", full, 0, "|/|abc|"},
        {"x/y.tar.gz", full, 0, "|x/|y.tar|.gz"},
        {"dir.d/file", full, 0, "|dir.d/|file|"},
        {"dir/.hidden", full, 0, "|dir/||.hidden"},
        {".profile", full, 0, "|||.profile"},
        {"file.", full, 0, "||file|."},
        {"..", full, 0, "||.|."},
        {"dir/", full, 0, "|dir/||"},
        {"D:file.txt", full, 0, "D:||file|.txt"},
        {"D:\\dir\\file.txt", full, 0, "D:|\\dir\\|file|.txt"},
        {"a:b/c:d/e", full, 0, "a:b/c:|d/|e|"},
        {"/.x", full, 0, "|/||.x"},
        {nullptr, full, 0, "|||"},  // a null path empties every buffer
        // The first piece too long (extension first, drive last) stops the call.
        {"dir/file.txt", {8, 8, 4, 8}, ENAMETOOLONG, "||fil|.txt"},
        {"D:dir/f.x", {8, 4, 4, 8}, ENAMETOOLONG, "|dir|f|.x"},
        {"x", {0, 0, 4, 1}, 0, "##|##|x|"},
    };
    for (const auto& c : cases) {
        char b[4][256];
        char* buffers[4];
        for (int i = 0; i < 4; ++i) {
            std::strcpy(b[i], "##");
            buffers[i] = c.sizes[i] == 0 ? nullptr : b[i];
        }
        EXPECT_EQ(c.sizes == full
                      ? explode_path(c.path, b[0], b[1], b[2], b[3])
                      : explode_path_n(c.path, buffers[0], c.sizes[0], buffers[1], c.sizes[1],
                                       buffers[2], c.sizes[2], buffers[3], c.sizes[3]),
                  c.result);
        EXPECT_EQ(std::string(b[0]) + "|" + b[1] + "|" + b[2] + "|" + b[3], c.pieces) << c.path;
        char joined[260];
        if (c.sizes == full && c.path != nullptr) {
            EXPECT_EQ(combine_path(joined, b[0], b[1], b[2], b[3]), 0);
            EXPECT_STREQ(joined, c.path);
        }
    }
    // A zero-sized buffer is rejected, nothing written.
    char untouched[4] = "abc", filename[4];
    EXPECT_EQ(explode_path_n("x", nullptr, 0, nullptr, 0, filename, 4, untouched, 0), ENAMETOOLONG);
    EXPECT_STREQ(untouched, "abc");
}

// Pieces whose delimiters are there already are joined by the round trip above.
TEST(CombinePath, AddsMissingDelimitersAndCutsToTheBuffer) {
    const std::string name(255, 'n');
    const struct {
        std::size_t size;
        const char *drive, *directory, *filename, *extension;
        int result;
        std::string path;
    } cases[] = {
        {260, "D", "dir", "f", "siw", 0, "D:dir/f.siw"},
        {260, nullptr, nullptr, name.c_str(), "da1x", ENAMETOOLONG, name + ".da1"},  // 1 too long
        {9, nullptr, nullptr, "file", "siw", 0, "file.siw"},
        {8, nullptr, nullptr, "file", "siw", ENAMETOOLONG, "file.si"},
        {3, "D", "dir", nullptr, nullptr, ENAMETOOLONG, "D:"},
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

// The temporaries the outputs record with their hook and have not forgotten yet.
std::vector<std::string> recorded;
const temporary_file_hook recording_hook{
    [](const char* name) { recorded.emplace_back(name); },
    [](const char* name) { std::erase(recorded, std::string(name)); }};

struct stat status_of(const std::string& name) {
    struct stat st {};
    EXPECT_EQ(lstat(name.c_str(), &st), 0) << name;
    return st;
}

// Each kind of name, opened and written; the bytes land in the file it leads to, which keeps
// its kind, and a file being replaced stays as it was until the commit.
TEST(AtomicOutput, RegularFilesAreReplacedInOneRenameDevicesFifosWrittenLinksFollowed) {
    TempDir dir;
    const mode_t old_mask = umask(022);
    fs::create_directory(dir / "real");
    for (const char* name : {"kept", "linked"})
        write_file(dir / "real" / name, "earlier");
    fs::permissions(dir / "real/kept", static_cast<fs::perms>(0640));
    fs::permissions(dir / "real/linked", static_cast<fs::perms>(0600));
    fs::create_symlink("real/linked", dir / "link");
    fs::create_symlink("link", dir / "link to link");
    fs::create_symlink(dir / "real/created", dir / "dangling");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string null_device = testrun::device(dir.path(), "null");
    const struct stat null_before = status_of(null_device);
    const struct {
        std::string name, lands_in;  // lands_in "": a device, nothing to read back
        mode_t mode;                 // the type and permissions afterwards
        bool replaced;               // through a temporary beside lands_in
    } cases[] = {
        {"new", "new", S_IFREG | 0644, true},
        {"real/kept", "real/kept", S_IFREG | 0640, true},
        {"link to link", "real/linked", S_IFREG | 0600, true},
        {"dangling", "real/created", S_IFREG | 0644, true},
        {"fifo", "fifo", S_IFIFO | 0600, false},
        {null_device, "", null_before.st_mode, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name[0] == '/' ? c.name : (dir / c.name).string();
        const std::string lands_in = (dir / c.lands_in).string();
        std::string read;
        std::thread reader;  // a FIFO opens for writing once a reader opens it
        if (c.name == "fifo")
            reader = std::thread([&] { read = read_file(lands_in); });
        atomic_output output(&recording_hook);
        ASSERT_EQ(output.open(name), 0);
        ASSERT_EQ(output.write("new bytes", 9), 0);
        ASSERT_GE(std::fputs(" and more", output.stream()), 0);
        EXPECT_EQ(output.written_in_place(), !c.replaced);
        if (c.replaced) {
            ASSERT_EQ(recorded.size(), 1u);
            EXPECT_EQ(recorded[0].rfind((fs::path(lands_in).parent_path() / ".").string(), 0), 0u)
                << recorded[0];
            EXPECT_EQ(read_file(lands_in),
                      c.name == "new" || c.name == "dangling" ? "" : "earlier");
        }
        EXPECT_EQ(output.commit(), 0);
        if (reader.joinable())
            reader.join();
        EXPECT_TRUE(recorded.empty());
        if (!c.lands_in.empty()) {
            EXPECT_EQ(c.name == "fifo" ? read : read_file(lands_in), "new bytes and more");
        }
        const struct stat after = status_of(c.lands_in.empty() ? name : lands_in);
        EXPECT_EQ(after.st_mode, c.mode);
        if (c.lands_in.empty()) {
            EXPECT_EQ(std::make_pair(after.st_ino, after.st_rdev),
                      std::make_pair(null_before.st_ino, null_before.st_rdev));
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link") && fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(names_in(dir / "real"), (std::vector<std::string>{"created", "kept", "linked"}));
    umask(old_mask);
}

// Names that cannot be written give the error number and leave nothing; an output not put in
// place leaves the earlier file as it was.
TEST(AtomicOutput, FailuresAndDiscardedOutputsLeaveEverythingAsItWas) {
    TempDir dir;
    write_file(dir / "earlier", "earlier");
    write_file(dir / "read only", "earlier");
    fs::permissions(dir / "read only", static_cast<fs::perms>(0444));
    fs::create_symlink("loop", dir / "loop");
    const bool root = geteuid() == 0;  // root may write any file
    const std::pair<std::string, int> refused[] = {
        {"no such dir/out", ENOENT},      {"", ENOENT}, {".", EISDIR}, {"loop", ELOOP},
        {"read only", root ? 0 : EACCES},
    };
    for (const auto& [name, error] : refused) {
        atomic_output output(&recording_hook);
        EXPECT_EQ(output.open(name.empty() ? name : (dir / name).string()), error) << name;
    }
    {
        atomic_output output(&recording_hook);
        ASSERT_EQ(output.open((dir / "earlier").string()), 0);
        ASSERT_EQ(output.write("new", 3), 0);
        EXPECT_EQ(recorded.size(), 1u);
    }
    TempDir devices;
    atomic_output full;
    ASSERT_EQ(full.open(testrun::device(devices.path(), "full")), 0);
    EXPECT_EQ(full.write("x", 1), ENOSPC);
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(read_file(dir / "earlier"), "earlier");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"earlier", "loop", "read only"}));
}

// A set appears whole or not at all; files outside it stay as they were.
TEST(AtomicOutputSet, AllOrNothing) {
    const struct {
        std::vector<std::string> names;  // of the set, in order
        std::string before_commit;       // made once the set is written: a directory "d:<name>"
        int error;
        std::size_t failed;
        std::vector<std::string> left;  // the folder afterwards
        std::string b;                  // b's bytes afterwards
        bool commit = true;
    } cases[] = {
        {{"a", "b"}, "", 0, 0, {"a", "b", "other"}, "new b"},
        {{"a", "b"}, "", 0, 0, {"b", "other"}, "earlier b", false},  // destroyed uncommitted
        {{"a", "full", "b"}, "", ENOSPC, 1, {"b", "other"}, "earlier b"},
        // c cannot be put in place: a and b, renamed before, go again.
        {{"a", "b", "c"}, "d:c", EISDIR, 2, {"c", "other"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names) + c.before_commit);
        TempDir dir, devices;
        write_file(dir / "b", "earlier b");
        write_file(dir / "other", "other");
        {
            atomic_output_set set(&recording_hook);
            for (const std::string& name : c.names) {
                atomic_output* output = nullptr;
                const fs::path path =
                    name == "full" ? testrun::device(devices.path(), name) : dir / name;
                ASSERT_EQ(set.open(path.string(), output), 0);
                ASSERT_GE(std::fputs(("new " + name).c_str(), output->stream()), 0);
            }
            if (!c.before_commit.empty())
                fs::create_directory(dir / c.before_commit.substr(2));
            std::size_t failed = 99;
            if (c.commit) {
                EXPECT_EQ(set.commit(failed), c.error);
                EXPECT_EQ(failed, c.error == 0 ? c.names.size() : c.failed);
            }
        }
        EXPECT_TRUE(recorded.empty());
        EXPECT_EQ(names_in(dir.path()), c.left);
        EXPECT_EQ(read_file(dir / "b"), c.b);
        EXPECT_EQ(read_file(dir / "a"), c.left[0] == "a" ? "new a" : "");
        EXPECT_EQ(read_file(dir / "other"), "other");
    }
}

}  // namespace
