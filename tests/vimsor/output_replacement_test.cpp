// An output file is written under a temporary name next to it and replaces
// the earlier file only when complete.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "nevra_writer_ascii.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputReplacement, EarlierFileStaysUntilTheNewOneIsCompleteAndKeepsItsPermissions) {
    testrun::TempDir dir;
    testrun::write_file(dir / "out.da1", "earlier");
    ASSERT_EQ(chmod((dir / "out.da1").c_str(), 0640), 0);
    nevra_writer_ascii writer((dir / "out.da1").c_str(), "!x");
    writer.write({0.0}, {{1.0}}, 1);
    EXPECT_EQ(testrun::read_file(dir / "out.da1"), "earlier");
    const auto during = names_in(dir.path());
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].rfind(".out.da1.", 0), 0u) << during[0];

    writer.close();
    EXPECT_EQ(testrun::read_file(dir / "out.da1"), "!x\n0 0 1\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.da1"});
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.da1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(OutputReplacement, LinkKeepsLeadingToTheOutput) {
    testrun::TempDir dir;
    fs::create_directory(dir / "real");
    testrun::write_file(dir / "real/out.da1", "earlier");
    fs::create_symlink(dir / "real/out.da1", dir / "link.da1");
    nevra_writer_ascii((dir / "link.da1").c_str(), "!x").close();
    EXPECT_TRUE(fs::is_symlink(dir / "link.da1"));
    EXPECT_EQ(testrun::read_file(dir / "real/out.da1"), "!x\n");
    EXPECT_EQ(names_in(dir / "real"), std::vector<std::string>{"out.da1"});
}

}  // namespace
