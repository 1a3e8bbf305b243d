// One emulator per data folder: the folder lock, and the runner refusing a
// folder that another program uses.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/instance.h"
#include "tests/support/support.h"

namespace {

TEST(DataDirLock, ASecondHolderOfTheSameFolderIsRefusedUntilTheFirstLetsGo)
{
    TempDir a, b;
    DataDirLock first, second, other;
    std::string error;
    bool busy = true;
    ASSERT_TRUE(first.acquire(a.path(), &error, &busy)) << error;
    EXPECT_FALSE(busy);
    EXPECT_TRUE(first.held());

    EXPECT_FALSE(second.acquire(a.path(), &error, &busy));
    EXPECT_TRUE(busy);
    EXPECT_FALSE(second.held());
    EXPECT_NE(error.find(a.path()), std::string::npos) << error;
    EXPECT_NE(error.find("another"), std::string::npos) << error;
    // The same folder by another name is still the same folder.
    EXPECT_FALSE(second.acquire(a.path() + "/.", &error, &busy));
    EXPECT_TRUE(busy);

    EXPECT_TRUE(other.acquire(b.path(), &error, &busy)) << error;

    first.release();
    EXPECT_TRUE(second.acquire(a.path(), &error, &busy)) << error;
    // No lock file is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(a.path()), {}), 0);
}

TEST(DataDirLock, AMissingFolderIsAnErrorNotABusyFolder)
{
    DataDirLock lock;
    std::string error;
    bool busy = true;
    EXPECT_FALSE(lock.acquire("/nonexistent-folder", &error, &busy));
    EXPECT_FALSE(busy);
    EXPECT_NE(error.find("/nonexistent-folder"), std::string::npos) << error;
}

TEST(DataDirLock, TheRunnerLeavesAFolderInUseUntouched)
{
    TempDir dir;
    DataDirLock held;
    std::string error;
    ASSERT_TRUE(held.acquire(dir.path(), &error)) << error;
    const auto r = run_runner({"--data", dir.path(), "--keys", "wait 100", "--shot", dir.file("s.png")});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("another program (a Tarvik-2 emulator or the archive tool) is using this data folder"), std::string::npos) << r.output;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);

    held.release();
    const auto ok = run_runner({"--data", dir.path(), "--keys", "wait 100", "--shot", dir.file("s.png")});
    EXPECT_EQ(ok.status, 0) << ok.output;
}

}  // namespace
