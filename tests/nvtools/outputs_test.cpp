// The nv tools' outputs and command line: hostile names in nvplot, pictures of miniSEED,
// pictures that never appear cut short, devices, FIFOs and links written but never replaced,
// and the statuses of the shared command-line skeleton.

#include "hostile_names.h"
#include "miniseed_writer.h"
#include "nv24_writer.h"
#include "nvtools_support.h"
#include "plot.h"
#include "run.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>

namespace fs = std::filesystem;

namespace {

using nvtest::may_1;
using nvtest::may_1_us;
using nvtest::read_picture;
using nvtest::words;

// Three channels of station kiruna at 20 Hz, each a different saw tooth.
std::string recording(int frames) {
    return nvtest::block_file(3, 20.0, frames, [](size_t i, size_t c) {
        return c == 0 ? i % 40 : c == 1 ? i % 20 * 3 : i % 10 * 7;
    });
}

// Appends count samples of IM.<station>..<channel> from start_us in Steim-2 records.
void append_trace(const fs::path& file, const char* station, const char* channel,
                  std::int64_t start_us, double rate, int count) {
    msw::Trace t{"IM", station, "", channel, start_us, rate, {}};
    for (int i = 0; i < count; ++i)
        t.values.push_back(static_cast<std::int32_t>(1000 * std::sin(i / 5.0)));
    msw::append(file, t);
}

const std::string small = "--width=200 --height=150";

}  // namespace

// No name can end a gnuplot string or start a command: every hostile name as the input and as
// -o gives a picture under that very name, and nothing else appears.
TEST(NvplotNames, EveryHostileNameAsInputAndAsOutput) {
    for (const auto& hostile : testwriters::hostile_names) {
        SCOPED_TRACE(hostile.label);
        const std::string name(hostile.name);
        testrun::TempDir dir;
        testrun::write_file(dir / name, recording(4000));
        std::vector<std::string> as_input = words(small);
        as_input.insert(as_input.end(), {"--", name});
        std::vector<std::string> as_output = words(small);
        as_output.insert(as_output.end(), {"-o", name + ".out", "--", name});
        for (const auto& [args, picture] :
             {std::pair{as_input, name + ".png"}, std::pair{as_output, name + ".out"}}) {
            const testrun::Result r = testrun::run("nvplot", args, dir.path());
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_picture(dir / picture).panels, 3);
        }
        EXPECT_EQ(testrun::names_in(dir.path()),
                  (std::vector<std::string>{name, name + ".out", name + ".png"}));
    }
}

// One panel per selected trace id of a miniSEED file with gaps, several ids and mixed rates;
// ten minutes of a block file at the requested size (default 1200x800) and time range.
TEST(Nvplot, PanelsPerSelectedTraceIdAndPictureSizes) {
    testrun::TempDir dir;
    append_trace(dir / "m.mseed", "A", "BDF", may_1_us, 20.0, 600);
    append_trace(dir / "m.mseed", "A", "BDF", may_1_us + 40'000'000, 20.0, 400);
    append_trace(dir / "m.mseed", "B", "BDF", may_1_us + 5'000'000, 40.0, 1600);
    append_trace(dir / "m.mseed", "C", "HDF", may_1_us, 100.0, 6000);
    testrun::write_file(dir / "rec.nv24", recording(12000));
    const std::string sized = "--width=300 --height=400 ";
    const struct {
        std::string args;
        int status, panels;
        std::string err, picture = "p.png";
        unsigned width = 300, height = 400;
    } cases[] = {
        {sized + "m.mseed -o p.png", 0, 3, ""},
        {sized + "--channels=IM.[AB]..BDF m.mseed -o p.png", 0, 2, ""},
        {sized + "--channels IM.C.*,IM.A.* m.mseed -o p.png", 0, 2, ""},
        {sized + "--channels=XX.* m.mseed -o p.png", 1, 0,
         "nvplot: m.mseed: no trace to draw matches --channels\n"},
        {sized + "--channels=IM.* rec.nv24 -o p.png", 1, 0,
         "nvplot: rec.nv24: --channels selects traces of miniSEED input only\n"},
        {"rec.nv24", 0, 3, "", "rec.nv24.png", 1200, 800},
        {"rec.nv24 -o small.png --width=400 --height=300", 0, 3, "", "small.png", 400, 300},
        {"--from=2016-05-01T00:02:00Z --to 1462061000.5 rec.nv24 -o p.png", 0, 3, "", "p.png", 1200,
         800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove(dir / c.picture);
        const testrun::Result r = testrun::run("nvplot", words(c.args), dir.path());
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err, c.err);
        const nvtest::Picture picture = read_picture(dir / c.picture);
        EXPECT_EQ(picture.panels, c.panels);
        if (c.status == 0) {  // each panel with a stroke in most pixel columns
            EXPECT_EQ(picture.width, c.width);
            EXPECT_EQ(picture.height, c.height);
            EXPECT_GT(picture.trace_pixels, c.width);
        }
    }
}

// No picture and status 1 or 2 after a bad time range, gnuplot missing or failing, or a picture
// cut short (a full disk, a file size limit, gnuplot stopping halfway with status 0) or a device
// that cannot take it. path: a folder first on PATH.
TEST(Nvplot, FailuresLeaveNothing) {
    testrun::TempDir dir;
    testrun::write_file(dir / "rec.nv24", recording(4000));
    fs::create_directory(dir / "half");
    testrun::write_file(dir / "half/gnuplot",
                        "#!/bin/sh\ncat >/dev/null\nprintf '\\211PNG\\r\\n\\032\\nIHDR'\n");
    fs::create_directory(dir / "failing");
    testrun::write_file(
        dir / "failing/gnuplot",
        "#!/bin/sh\ncat >/dev/null\necho partial\necho 'gnuplot: broken' >&2\nexit 1\n");
    for (const char* script : {"half/gnuplot", "failing/gnuplot"})
        fs::permissions(dir / script, fs::perms::owner_all);
    fs::create_directory(dir / "tiny");
    const bool tiny =
        geteuid() == 0 && mount("tmpfs", (dir / "tiny").c_str(), "tmpfs", 0, "size=16k") == 0;
    if (!tiny)
        std::cerr << "no tmpfs of 16 KiB can be mounted (that needs root): a full disk is tried "
                     "only through the file size limit\n";
    testrun::TempDir devices;
    const std::string full = testrun::device(devices.path(), "full");
    const std::string none = "PATH=/nonexistent; ",
                      incomplete = "gnuplot wrote an incomplete picture";
    const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
        {"", none, "--from=2016-05-01T00:05:00Z --to=2016-05-01T00:04:00Z rec.nv24", 1,
         "nvplot: rec.nv24: the time range to draw is empty (from 2016-05-01T00:05:00.000000Z"},
        {"", none, "--from=2016-05-02T00:00:00Z --to=2016-05-03T00:00:00Z rec.nv24", 1,
         "nvplot: rec.nv24: no samples between 2016-05-02T00:00:00.000000Z and"},
        {"", none, "--from=yesterday rec.nv24", 2,
         "nvplot: --from takes a UTC time such as 2016-05-01T00:10:00Z, not \"yesterday\"\n"},
        {"", none, "rec.nv24", 1,
         "nvplot: rec.nv24.png: gnuplot is not installed (Debian package gnuplot-nox"},
        {"failing", "", "rec.nv24", 1,
         "gnuplot: broken\nnvplot: rec.nv24.png: gnuplot failed with status 1; no picture "
         "written\n"},
        {"half", "", "rec.nv24 -o p.png", 1,
         "nvplot: p.png: " + incomplete + " (no PNG end chunk)"},
        {"", "trap '' XFSZ; ulimit -f 8; ", "rec.nv24 -o p.png", 1,
         "nvplot: p.png: " + incomplete + " (no PNG end chunk)"},
        {"", "", "rec.nv24 -o " + full, 1,
         "nvplot: cannot write " + full + ": No space left on device\n"},
        {"", "", tiny ? "rec.nv24 -o tiny/p.png" : "", 1, "nvplot: tiny/p.png: " + incomplete},
    };
    const auto before = testrun::names_in(dir.path());
    for (const auto& [path, shell, args, status, err] : cases) {
        if (args.empty())
            continue;
        SCOPED_TRACE(path + shell + args);
        std::vector<std::string> argv{"-c", shell + "exec \"$0\" \"$@\"",
                                      testrun::bin_dir() / "nvplot"};
        for (const std::string& word : words(args))
            argv.push_back(word);
        const testrun::Result r =
            testrun::run("/bin/sh", argv, dir.path(), path.empty() ? fs::path() : dir / path);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err.substr(0, err.size()), err);
        EXPECT_EQ(testrun::names_in(dir.path()), before);
    }
    if (tiny) {
        EXPECT_TRUE(testrun::names_in(dir / "tiny").empty());
        EXPECT_EQ(umount((dir / "tiny").c_str()), 0);
    }
}

// A FIFO, a symbolic link and a device like /dev/null as the output of nvconvert and nvplot:
// the FIFO gets the whole output and stays a FIFO, the link leads to the output, the device
// stays itself.
TEST(NvTools, DevicesFifosAndLinksAreWrittenNeverReplaced) {
    const std::pair<const char*, const char*> programs[] = {
        {"nvconvert", "--to=mseed rec.nv24"},
        {"nvplot", "rec.nv24 --width=200 --height=150 -o"},
    };
    for (const auto& [program, args] : programs) {
        SCOPED_TRACE(program);
        testrun::TempDir dir;
        testrun::write_file(dir / "rec.nv24", recording(4000));
        fs::create_directory(dir / "real");
        fs::create_symlink("real/out", dir / "link");
        const std::string null_device = testrun::device(dir.path(), "null");
        struct stat null_before {};
        ASSERT_EQ(stat(null_device.c_str(), &null_before), 0);
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
        // Read end first, so the program's open does not wait; the output fits the pipe.
        const int fifo = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fifo, 0);
        for (const std::string& out : {std::string("fifo"), std::string("link"), null_device}) {
            std::vector<std::string> argv = words(args);
            argv.push_back(out);
            const testrun::Result r = testrun::run(program, argv, dir.path());
            EXPECT_EQ(r.status, 0) << out << ": " << r.err;
        }
        std::string through_fifo;
        char buffer[4096];
        for (ssize_t n; (n = read(fifo, buffer, sizeof buffer)) > 0;)
            through_fifo.append(buffer, static_cast<size_t>(n));
        close(fifo);
        const std::string written = testrun::read_file(dir / "real/out");
        EXPECT_GT(written.size(), 100u);
        EXPECT_EQ(through_fifo, written);  // the same input gives the same bytes
        EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
        EXPECT_TRUE(fs::is_symlink(dir / "link"));
        EXPECT_EQ(testrun::names_in(dir / "real"), std::vector<std::string>{"out"});
        struct stat null_after {};
        ASSERT_EQ(stat(null_device.c_str(), &null_after), 0);
        EXPECT_TRUE(S_ISCHR(null_after.st_mode));
        EXPECT_EQ(null_after.st_ino, null_before.st_ino);
    }
}

// The shared skeleton: a wrong command line says why, shows the usage and gives status 2; a
// file that fails gives status 1 after the others are done.
TEST(CommandLine, UsageErrorsGiveTwoFileFailuresOne) {
    testrun::TempDir dir;
    testrun::write_file(dir / "rec.nv24", recording(4000));
    testrun::write_file(dir / "-rf", recording(4000));
    const std::tuple<const char*, const char*, int, std::string> cases[] = {
        {"nvinfo", "", 2, "nvinfo: needs at least one file\nusage: nvinfo"},
        {"nvinfo", "--json=yes rec.nv24", 2, "nvinfo: --json takes no value\nusage: nvinfo"},
        {"nvinfo", "-x rec.nv24", 2, "nvinfo: unknown option -x\nusage: nvinfo"},
        {"nvplot", "rec.nv24 --width", 2, "nvplot: --width needs a value\nusage: nvplot"},
        {"nvplot", "rec.nv24 --widths=300", 2, "nvplot: unknown option --widths=300\nusage:"},
        {"nvplot", "rec.nv24 rec.nv24", 2, "nvplot: needs one input file\nusage: nvplot"},
        {"nvconvert", "--gain rec.nv24 o.tm4", 2, "nvconvert: --gain needs a whole number, not"},
        {"nvconvert", "--o rec.nv24 o.mseed", 2, "nvconvert: unknown option --o\nusage:"},
        {"nvplot", "missing.nv24", 1, "nvplot: missing.nv24: cannot open the file\n"},
        {"nvplot", "--help", 0, ""},
    };
    for (const auto& [program, args, status, err] : cases) {
        SCOPED_TRACE(std::string(program) + " " + args);
        const testrun::Result r = testrun::run(program, words(args), dir.path());
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err.substr(0, err.size()), err);
        EXPECT_EQ(r.err.empty(), err.empty()) << r.err;
        EXPECT_EQ(r.out.rfind("usage: ", 0) == 0, status == 0) << r.out;
    }
    // The file after the missing one is still reported.
    const testrun::Result r = testrun::run("nvinfo", {"missing.nv24", "--", "-rf"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("-rf\n  format     24-bit block\n"), std::string::npos) << r.out;
}

// A title or label shows every name on one line, with what is not printable escaped, and stays
// one single-quoted gnuplot string.
TEST(PlotScript, NamesShownEscapedInOneQuotedString) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"a\\nb\\", "a\\\\nb\\\\"},
        {"a\x01\x7f"
         "b",
         "a\\x01\\x7fb"},
        {"a\xff\xfe"
         "b\xc3",
         "a\\xff\\xfeb\\xc3"},  // not UTF-8, and a sequence cut short
        {"K\xc3\xa4gel \xe2\x82\xac", "K\xc3\xa4gel \xe2\x82\xac"},  // UTF-8 stays
        {"a'`$(x)", "a'`$(x)"},
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(nvtools::shown(name), shown) << name;
    nvtools::PlotLayout layout;
    layout.title = "it's\na";
    layout.from = 0;
    layout.to = 1;
    const std::string script = nvtools::gnuplot_script(layout, {{"x\n'", {}}});
    EXPECT_NE(script.find("\nset multiplot layout 1,1 title 'it''s\\na'\n"), std::string::npos)
        << script;
    EXPECT_NE(script.find("\nset ylabel 'x\\n'''\n"), std::string::npos) << script;
    EXPECT_EQ(script.find("\nset output"), std::string::npos);
}
