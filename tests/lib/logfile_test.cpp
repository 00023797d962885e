#include "logfile.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "run.h"

namespace {

using testrun::read_file;
using testrun::TempDir;

// Logs args into a fresh file (in the POSIX time locale) and gives the entry
// without its time stamp, checking the stamp on the way.
std::string entry_for(std::vector<std::string> args) {
    TempDir dir;
    const std::string log = (dir / "logfile").string();
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    setenv("LC_ALL", "C", 1);
    flogfile(log.c_str(), static_cast<int>(argv.size()), argv.data());
    unsetenv("LC_ALL");
    const std::string line = read_file(log);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, std::regex("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << line;
    return line.substr(m.length());
}

TEST(Flogfile, PlainArgumentsAndQuotedOnesWithBlanksCommasOrAsterisks) {
    EXPECT_EQ(entry_for({"vimsor", "-d", "2", "k0105.raw"}), " vimsor -d 2 k0105.raw\n");
    EXPECT_EQ(entry_for({"vimsor", "", "x"}), " vimsor  x\n");
    EXPECT_EQ(entry_for({"a\"b\\c"}), " a\"b\\c\n");  // no blank, comma or asterisk: plain
    const std::pair<std::string, std::string> cases[] = {
        {"a b.raw", "\"a b.raw\""},
        {"a,b", "\"a,b\""},
        {"*.raw", "\"*.raw\""},
        {"--options=--swatch -#2sf128", "--options=\"--swatch -#2sf128\""},
        {"--x y", "\"--x y\""},
        {"-o=a b", "\"-o=a b\""},
        {"--k=v=w x", "--k=\"v=w x\""},
        {"dir\\a b", "\"dir\\\\a b\""},
        {"a \"b\" c", "\"a \\\"b\\\" c\""},
    };
    for (const auto& [arg, logged] : cases)
        EXPECT_EQ(entry_for({"p", arg}), " p " + logged + "\n") << arg;
}

char name_p[] = "p";
char* argv_p[] = {name_p};

TEST(Flogfile, AppendsOneLinePerCallAndAnUnopenableLogSaysSo) {
    TempDir dir;
    const std::string log = (dir / "logfile").string();
    flogfile(log.c_str(), 1, argv_p);
    flogfile(log.c_str(), 1, argv_p);
    const std::string text = read_file(log);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    testing::internal::CaptureStderr();
    flogfile("/nonexistent-dir/logfile", 1, argv_p);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No logfile entry\n");
}

// A locale whose date form alone is longer than the 30-byte time stamp.
const char* const long_time_locale =
    "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_TIME\n"
    "abday \"Sun\";\"Mon\";\"Tue\";\"Wed\";\"Thu\";\"Fri\";\"Sat\"\n"
    "day \"Sun\";\"Mon\";\"Tue\";\"Wed\";\"Thu\";\"Fri\";\"Sat\"\n"
    "abmon \"Jan\";\"Feb\";\"Mar\";\"Apr\";\"May\";\"Jun\";\"Jul\";\"Aug\";\"Sep\";\"Oct\";\"Nov\";\"Dec\"\n"
    "mon \"Jan\";\"Feb\";\"Mar\";\"Apr\";\"May\";\"Jun\";\"Jul\";\"Aug\";\"Sep\";\"Oct\";\"Nov\";\"Dec\"\n"
    "d_t_fmt \"%c\"\nd_fmt \"day %d of month %m of the year %Y of the common era\"\n"
    "t_fmt \"%H:%M:%S\"\nam_pm \"AM\";\"PM\"\nt_fmt_ampm \"%I:%M:%S %p\"\nEND LC_TIME\n";

TEST(Flogfile, TimeStampTooLongForItsBufferFallsBackToTheNumericForm) {
    TempDir dir;
    testrun::write_file(dir / "long.def", long_time_locale);
    const std::string build = "localedef -c -i " + (dir / "long.def").string() +
                              " -f ANSI_X3.4-1968 " + (dir / "xx_LONG").string() + " >/dev/null 2>&1";
    if (std::system(build.c_str()) == -1 || !std::filesystem::exists(dir / "xx_LONG" / "LC_TIME"))
        GTEST_SKIP() << "localedef cannot build a test locale here";
    const std::string log = (dir / "logfile").string();
    setenv("LOCPATH", dir.path().c_str(), 1);
    setenv("LC_ALL", "xx_LONG", 1);
    flogfile(log.c_str(), 1, argv_p);
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    const std::string line = read_file(log);
    EXPECT_TRUE(std::regex_match(line, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d p\n")))
        << line;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_space_limit_works = false;  // the sanitizer reserves far more
#else
constexpr bool address_space_limit_works = true;
#endif

// Limits the address space to what is in use now plus headroom bytes.
void limit_memory(std::size_t headroom) {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    const rlim_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + headroom;
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0)
        _exit(3);
}

[[noreturn]] void log_under_memory_limit(const std::string& log, std::string arg) {
    char name[] = "p";
    char* argv[] = {name, arg.data()};
    limit_memory(16 << 20);  // the quoted form needs twice the argument
    flogfile(log.c_str(), 2, argv);
    _exit(0);
}

TEST(FlogfileDeathTest, ArgumentThatCannotBeQuotedIsLoggedPlain) {
    if (!address_space_limit_works)
        GTEST_SKIP() << "address-space limits do not work under the address sanitizer";
    TempDir dir;
    const std::string log = (dir / "logfile").string();
    const std::string big = "a b" + std::string(64 << 20, '"');
    EXPECT_EXIT(log_under_memory_limit(log, big), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(read_file(log).ends_with(" p " + big + "\n"));
}

}  // namespace
