// One emulator per data folder and one writer per image: the folder lock,
// the locks of the files themselves, and the programs refusing a folder or an
// image that another program uses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "front/common/instance.h"
#include "host/fram.h"
#include "host/session.h"
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

enum class Link { Symbolic, Hard };

void link_file(Link kind, const std::string& target, const std::string& link)
{
    if (kind == Link::Symbolic)
        std::filesystem::create_symlink(target, link);
    else
        std::filesystem::create_hard_link(target, link);
}

TEST(DataDirLock, AFileLinkedFromAnotherFolderIsTheSameFile)
{
    const struct {
        const char* name;
        const char* file;   // in the first folder
        const char* image;  // the image named apart from the folder ("" for flash.dat)
        const char* link;   // in the second folder
        Link kind;
    } cases[] = {
        {"flash.dat, symbolic link", "flash.dat", "", "flash.dat", Link::Symbolic},
        {"flash.dat, hard link", "flash.dat", "", "flash.dat", Link::Hard},
        {"fram.dat, symbolic link", "fram.dat", "", "fram.dat", Link::Symbolic},
        {"fram.dat, hard link", "fram.dat", "", "fram.dat", Link::Hard},
        {"an image named by the tool's --flash", "copy.img", "copy.img", "flash.dat", Link::Symbolic},
    };
    for (const auto& c : cases) {
        TempDir a, b;
        write_file_bytes(a.file(c.file), {1, 2, 3});
        link_file(c.kind, a.file(c.file), b.file(c.link));
        DataDirLock first, second;
        std::string error;
        bool busy = false;
        ASSERT_TRUE(first.acquire(a.path(), &error, &busy, *c.image ? a.file(c.image) : "")) << c.name << ": " << error;
        EXPECT_FALSE(second.acquire(b.path(), &error, &busy)) << c.name;
        EXPECT_TRUE(busy) << c.name;
        EXPECT_FALSE(second.held()) << c.name;
        EXPECT_NE(error.find(b.file(c.link) + ": another program (a Tarvik-2 emulator or the archive tool) is using "
                                              "this file"),
                  std::string::npos)
            << c.name << ": " << error;
        // And the other way round.
        first.release();
        ASSERT_TRUE(second.acquire(b.path(), &error, &busy)) << c.name << ": " << error;
        EXPECT_FALSE(first.acquire(a.path(), &error, &busy, *c.image ? a.file(c.image) : "")) << c.name;
        EXPECT_TRUE(busy) << c.name;
        second.release();
        EXPECT_TRUE(first.acquire(a.path(), &error, &busy)) << c.name << ": " << error;
        EXPECT_EQ(read_file_bytes(a.file(c.file)), std::vector<u8>({1, 2, 3})) << c.name;
    }
}

TEST(DataDirLock, AFileMadeWhileTheLockIsHeldIsLockedFromThen)
{
    TempDir a, b;
    DataDirLock first, second;
    std::string error;
    ASSERT_TRUE(first.acquire(a.path(), &error)) << error;
    // fram.dat does not exist yet: the first read of the settings makes it.
    data_dir_set(a.path());
    fram_reset();
    u8 byte = 0;
    EXPECT_EQ(fram_read(0, &byte, 1), 1u);
    data_dir_set("");
    ASSERT_TRUE(std::filesystem::exists(a.file("fram.dat")));
    std::filesystem::create_symlink(a.file("fram.dat"), b.file("fram.dat"));
    bool busy = false;
    EXPECT_FALSE(second.acquire(b.path(), &error, &busy));
    EXPECT_TRUE(busy);
    EXPECT_NE(error.find(b.file("fram.dat")), std::string::npos) << error;
}

// Two programs, each on a folder of its own, whose flash.dat is one file: the
// second is refused while the first runs, as for one folder.
TEST(DataDirLock, TwoProgramsThroughALinkedImageOneWriter)
{
    TempDir a;
    // The first folder's image and settings, made by a run.
    ASSERT_EQ(run_runner({"--data", a.path(), "--keys", "off"}).status, 0);
    const auto image_before = std::filesystem::last_write_time(a.file("flash.dat"));
    std::ofstream(a.file("r.csv")) << "Цех/1В,spectrum,velocity,400,0,1000,1\n";
    const struct {
        const char* name;
        Link kind;
        std::string second;  // the second program, on the folder $B
    } cases[] = {
        {"runner, symbolic link", Link::Symbolic, shell_quote(TARVIK2_RUN_PATH) + " --data \"$B\" --keys off"},
        {"runner, hard link", Link::Hard, shell_quote(TARVIK2_RUN_PATH) + " --data \"$B\" --keys off"},
        {"route import, symbolic link", Link::Symbolic,
         shell_quote(TARVIK2_ARCHIVE_PATH) + " --data \"$B\" route import --name \"$(basename \"$B\")\" \"$A/r.csv\""},
        {"route import, hard link", Link::Hard,
         shell_quote(TARVIK2_ARCHIVE_PATH) + " --data \"$B\" route import --name \"$(basename \"$B\")\" \"$A/r.csv\""},
    };
    for (const auto& c : cases) {
        TempDir b;
        link_file(c.kind, a.file("flash.dat"), b.file("flash.dat"));
        // The first runner stops at each of its two shots until the picture is
        // read (the files are FIFOs): after the first it holds its locks,
        // and it waits at the second while the second program starts.
        const std::string script =
            "A=" + shell_quote(a.path()) + "; B=" + shell_quote(b.path()) +
            "\n"
            "rm -f \"$A/s1.png\" \"$A/s2.png\"; mkfifo \"$A/s1.png\" \"$A/s2.png\"\n" +
            shell_quote(TARVIK2_RUN_PATH) +
            " --data \"$A\" --keys \"shot $A/s1.png; shot $A/s2.png\" >\"$A/first.log\" 2>&1 &\n"
            "first=$!\n"
            "cat \"$A/s1.png\" >/dev/null\n"
            "echo \"second:\"; " +
            c.second +
            "; echo \"second status: $?\"\n"
            "cat \"$A/s2.png\" >/dev/null\n"
            "wait $first; echo \"first status: $?\"; cat \"$A/first.log\"\n"
            "echo \"again:\"; " +
            c.second + "; echo \"again status: $?\"\n";
        const RunResult r = run_command("bash -c " + shell_quote(script));
        const std::string& out = r.output;
        EXPECT_NE(out.find("second status: 2"), std::string::npos) << c.name << "\n" << out;
        EXPECT_NE(out.find(b.file("flash.dat") + ": another program (a Tarvik-2 emulator or the archive tool) is "
                                                 "using this file"),
                  std::string::npos)
            << c.name << "\n" << out;
        EXPECT_NE(out.find("first status: 0"), std::string::npos) << c.name << "\n" << out;
        // Once the first has ended, the second starts.
        EXPECT_NE(out.find("again status: 0"), std::string::npos) << c.name << "\n" << out;
    }
    EXPECT_NE(std::filesystem::last_write_time(a.file("flash.dat")), image_before);
}

}  // namespace
