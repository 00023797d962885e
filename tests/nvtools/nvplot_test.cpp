// nvplot: pictures of the requested size with the traces drawn, and no
// picture when gnuplot fails or is missing.

#include "nv24_writer.h"
#include "run.h"

#include <png.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    size_t trace_pixels = 0;  // pixels of the traces' colour, #1f4e9c
};

Picture read_png(const fs::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0)
        return picture;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0)
        return picture;
    picture.width = image.width;
    picture.height = image.height;
    for (size_t p = 0; p + 2 < pixels.size(); p += 3)
        if (pixels[p] == 0x1f && pixels[p + 1] == 0x4e && pixels[p + 2] == 0x9c)
            ++picture.trace_pixels;
    return picture;
}

// Ten minutes at 20 Hz, a different wave on each channel.
void write_recording(const fs::path& file) {
    nv24w::File recording = nv24w::make_file(3, 20.0, 1462060800);
    recording.header.station = 1;
    for (int i = 0; i < 12000; ++i)
        nv24w::add_frame(recording, {i % 200, (i % 50) * 3, i % 2 == 0 ? 100 : -100});
    nv24w::write(file.string(), recording);
}

std::set<std::string> files_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(Nvplot, PictureOfTheRequestedSizeWithTraces) {
    struct Case {
        std::vector<std::string> args;
        const char* picture;
        unsigned width, height;
    };
    const Case cases[] = {
        {{"rec.nv24"}, "rec.nv24.png", 1200, 800},
        {{"rec.nv24", "-o", "small.png", "--width=400", "--height=300"}, "small.png", 400, 300},
        {{"--from=2016-05-01T00:02:00Z", "--to", "1462061000.5", "rec.nv24", "-o", "part.png",
          "--width", "640", "--height", "480"},
         "part.png",
         640,
         480},
    };
    testrun::TempDir dir;
    write_recording(dir / "rec.nv24");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.picture);
        const testrun::Result r = testrun::run("nvplot", test.args, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        const Picture picture = read_png(dir / test.picture);
        EXPECT_EQ(picture.width, test.width);
        EXPECT_EQ(picture.height, test.height);
        // Three panels, each with a stroke in most pixel columns.
        EXPECT_GT(picture.trace_pixels, test.width);
    }
}

TEST(Nvplot, NoPictureWhenGnuplotFailsOrIsMissing) {
    testrun::TempDir dir;
    write_recording(dir / "rec.nv24");
    // A gnuplot that writes part of the picture, then fails.
    fs::create_directory(dir / "failing");
    testrun::write_file(
        dir / "failing" / "gnuplot",
        "#!/bin/sh\nout=$(sed -n \"s/^set output '\\(.*\\)'$/\\1/p\")\necho partial > \"$out\"\n"
        "echo 'gnuplot: broken' >&2\nexit 1\n");
    ASSERT_EQ(chmod((dir / "failing" / "gnuplot").c_str(), 0755), 0);
    fs::create_directory(dir / "empty");
    const std::set<std::string> before = files_in(dir.path());

    const testrun::Result failing =
        testrun::run("nvplot", {"rec.nv24"}, dir.path(), {}, dir / "failing");
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("gnuplot failed with status 1"), std::string::npos) << failing.err;
    EXPECT_EQ(files_in(dir.path()), before);

    const testrun::Result missing = testrun::run(
        "/usr/bin/env",
        {"PATH=" + (dir / "empty").string(), (testrun::bin_dir() / "nvplot").string(), "rec.nv24"},
        dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("gnuplot-nox"), std::string::npos) << missing.err;
    EXPECT_EQ(files_in(dir.path()), before);
}

TEST(Nvplot, BadTimeRanges) {
    testrun::TempDir dir;
    write_recording(dir / "rec.nv24");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--from=2016-05-01T00:05:00Z", "--to=2016-05-01T00:04:00Z", "rec.nv24"},
         "the time range to draw is empty"},
        {{"--from=2016-05-02T00:00:00Z", "--to=2016-05-03T00:00:00Z", "rec.nv24"},
         "no samples between"},
    };
    for (const auto& [args, reason] : cases) {
        const testrun::Result r = testrun::run("nvplot", args, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(std::string("nvplot: rec.nv24: ") + reason), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(testrun::run("nvplot", {"--from=yesterday", "rec.nv24"}, dir.path()).status, 2);
    EXPECT_FALSE(fs::exists(dir / "rec.nv24.png"));
}
