#include "cleanup.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "run.h"

namespace {

namespace fs = std::filesystem;

TEST(Cleanup, RunNowStopsRecordedWorkersAndRemovesRecordedFilesOnly) {
    testrun::TempDir dir;
    const std::string base = (dir / "t").string();
    for (const char* name : {"ta0000.dat", "tb0001.siw", "ta0002.dat", "out.tmp", "kept.tmp"})
        testrun::write_file(dir / name, "x");
    cleanup::add_rows(base.c_str(), 2, 2);
    cleanup::add_file((dir / "out.tmp").c_str());
    cleanup::add_file((dir / "kept.tmp").c_str());
    cleanup::forget_file((dir / "kept.tmp").c_str());
    const pid_t worker = fork();
    ASSERT_GE(worker, 0);
    if (worker == 0) {
        setpgid(0, 0);
        pause();
        _exit(0);
    }
    setpgid(worker, worker);
    cleanup::add_worker(worker);

    cleanup::run_now();
    EXPECT_EQ(waitpid(worker, nullptr, WNOHANG), -1);  // killed and reaped
    EXPECT_EQ(errno, ECHILD);
    for (const char* name : {"ta0000.dat", "tb0001.siw", "out.tmp"})
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : {"ta0002.dat", "kept.tmp"})  // row 2 lies beyond the rows recorded
        EXPECT_TRUE(fs::exists(dir / name)) << name;
}

}  // namespace
