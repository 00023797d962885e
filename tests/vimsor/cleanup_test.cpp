#include "cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "run.h"

namespace {

// Stopping the workers is checked end to end; here that only the files recorded
// and not forgotten go: row 2 lies beyond the rows recorded.
TEST(Cleanup, RunNowRemovesRecordedFilesOnly) {
    testrun::TempDir dir;
    for (const char* name : {"ta0000.dat", "tb0001.siw", "ta0002.dat", "out.tmp", "kept.tmp"})
        testrun::write_file(dir / name, "x");
    cleanup::add_rows((dir / "t").c_str(), 2, 2);
    cleanup::add_file((dir / "out.tmp").c_str());
    cleanup::add_file((dir / "kept.tmp").c_str());
    cleanup::forget_file((dir / "kept.tmp").c_str());
    cleanup::run_now();
    for (const char* name : {"ta0000.dat", "tb0001.siw", "out.tmp"})
        EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
    for (const char* name : {"ta0002.dat", "kept.tmp"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

}  // namespace
