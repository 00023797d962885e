#include "mypath.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The four pieces of path joined by '|'; every buffer starts filled with '#'.
std::string split(const char* path) {
    char drive[256], directory[256], filename[256], extension[256];
    for (char* b : {drive, directory, filename, extension})
        std::memset(b, '#', 256);
    EXPECT_EQ(explode_path(path, drive, directory, filename, extension), 0) << path;
    return std::string(drive) + "|" + directory + "|" + filename + "|" + extension;
}

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
        {"/data/k0105.raw", "|/data/|k0105|.raw"},
        {"/.x", "|/||.x"},
    };
    for (const auto& [path, pieces] : cases) {
        const std::string got = split(path);
        EXPECT_EQ(got, pieces) << path;
        std::string joined = got;
        std::erase(joined, '|');
        EXPECT_EQ(joined, path);
    }
    EXPECT_EQ(split(nullptr), "|||");  // a null path empties every buffer
}

TEST(ExplodePath, PieceTooLongStopsAtOnceAndMissingBuffersAreSkipped) {
    char drive[8] = "#", directory[8] = "#", filename[4], extension[8];
    EXPECT_EQ(explode_path_n("dir/file.txt", drive, sizeof drive, directory, sizeof directory,
                             filename, sizeof filename, extension, sizeof extension),
              ENAMETOOLONG);
    EXPECT_STREQ(extension, ".txt");
    EXPECT_STREQ(filename, "fil");
    EXPECT_STREQ(directory, "");
    EXPECT_STREQ(drive, "");
    char small_dir[4];
    EXPECT_EQ(explode_path_n("D:dir/f.x", drive, sizeof drive, small_dir, sizeof small_dir, filename,
                             sizeof filename, extension, sizeof extension),
              ENAMETOOLONG);
    EXPECT_STREQ(filename, "f");
    EXPECT_STREQ(small_dir, "dir");
    EXPECT_STREQ(drive, "");
    // Pieces without a buffer are skipped, zero-sized ones rejected.
    EXPECT_EQ(explode_path_n("a/very-long-directory/f.extension", nullptr, 0, nullptr, 0, filename, sizeof filename,
                             nullptr, 0),
              0);
    EXPECT_STREQ(filename, "f");
    char untouched[4] = "abc";
    EXPECT_EQ(explode_path_n("x", nullptr, 0, nullptr, 0, filename, sizeof filename, untouched, 0),
              ENAMETOOLONG);
    EXPECT_STREQ(untouched, "abc");
}

TEST(CombinePath, JoinsPiecesWithTheirDelimiters) {
    struct Case {
        const char *drive, *directory, *filename, *extension, *expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "run", "siw", "run.siw"},
        {nullptr, nullptr, "run", ".siw", "run.siw"},
        {"D", "dir", "f", nullptr, "D:dir/f"},
        {"D:", "dir\\", "f", "", "D:dir\\f"},
        {"", "", "", "", ""},
        {nullptr, "/", "a", ".bi1", "/a.bi1"},
    };
    for (const Case& c : cases) {
        char path[260];
        EXPECT_EQ(combine_path(path, c.drive, c.directory, c.filename, c.extension), 0);
        EXPECT_STREQ(path, c.expected);
    }
}

TEST(CombinePath, TooLongIsCutAndReported) {
    char path[16];
    std::memset(path, '#', sizeof path);
    EXPECT_EQ(combine_path_n(path, 9, nullptr, nullptr, "file", "siw"), 0);
    EXPECT_STREQ(path, "file.siw");
    std::memset(path, '#', sizeof path);
    EXPECT_EQ(combine_path_n(path, 8, nullptr, nullptr, "file", "siw"), ENAMETOOLONG);
    EXPECT_STREQ(path, "file.si");
    EXPECT_EQ(path[8], '#');
    EXPECT_EQ(combine_path_n(path, 3, "D", "dir", nullptr, nullptr), ENAMETOOLONG);
    EXPECT_STREQ(path, "D:");
    const std::string name(255, 'n');
    char full[260];
    EXPECT_EQ(combine_path(full, nullptr, nullptr, name.c_str(), ".da1"), 0);
    EXPECT_EQ(std::strlen(full), 259u);
    EXPECT_EQ(combine_path(full, nullptr, nullptr, name.c_str(), ".tm4_1"), ENAMETOOLONG);
    EXPECT_EQ(std::strlen(full), 259u);
    // A zero-sized buffer is rejected unwritten.
    path[0] = '#';
    EXPECT_EQ(combine_path_n(path, 0, nullptr, nullptr, "f", nullptr), ENAMETOOLONG);
    EXPECT_EQ(path[0], '#');
    EXPECT_EQ(combine_path_n(nullptr, 0, nullptr, nullptr, "f", nullptr), 0);
}

}  // namespace
