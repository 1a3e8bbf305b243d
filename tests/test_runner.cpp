// The headless runner end to end: steps in, screenshots and files out.
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "host/session.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

const std::string CLOCK = "2026-12-10T12:00:00";

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

u32 file_crc(const std::string& path)
{
    const auto data = read_file_bytes(path);
    return static_cast<u32>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

TEST(Runner, ScriptStepsProduceScreenshotsThatShowTheKeysTaken)
{
    TempDir dir;
    const std::string script = dir.file("keys.txt");
    write_text(script,
               "# plain, shifted and latched keys\n"
               "wait 1000\n"
               "shot " +
                   dir.file("menu.png") +
                   "\n"
                   "right; shot " +
                   dir.file("right.png") +
                   "\n"
                   "right; enter  # the route item: the route choice\n"
                   "enter         # the route's tree\n"
                   "down; down; down; shift+up  # a page up from the fourth line\n"
                   "shot " +
                   dir.file("shift_up.png") +
                   "\n"
                   "hold; down; release  # Mod toggle down while Down is pressed\n"
                   "shot " +
                   dir.file("hold_down.bmp") +
                   "\n"
                   "up; enter; wait 5000; enter  # a point measured and saved\n"
                   "up  # back on it: its measurement on the plot\n"
                   "shot " +
                   dir.file("plot.png") + "\n");
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--seed", "1", script, "--keys", "mod", "--shot",
                               dir.file("final.png")});
    ASSERT_EQ(r.status, 0) << r.output;

    const auto menu = load_screenshot(dir.file("menu.png"));
    EXPECT_TRUE(main_menu_shows(menu, 1));
    EXPECT_FALSE(main_menu_shows(menu, 2));
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("right.png")), 2));
    // Shift+Up (132) paged up to the route item: Up (4) would have gone one
    // line, Shift+Enter (131) would have opened the route choice.
    const auto up = load_screenshot(dir.file("shift_up.png"));
    EXPECT_TRUE(archive_row_shows(up, 0, 0, "Маршрут 1"_cp, true));
    EXPECT_TRUE(title_shows(up, ""));
    // The latched Mod made Down a page down (133): four lines on.
    EXPECT_TRUE(archive_row_shows(load_bmp565(dir.file("hold_down.bmp")), 3, 3, "1П"_cp, true));
    // --keys runs after the script; Mod is posted plain (1) and puts the
    // plot's cursor on the highest peak; --shot comes last.
    const auto plot = load_screenshot(dir.file("plot.png"));
    const auto final_shot = load_screenshot(dir.file("final.png"));
    ASSERT_FALSE(plot.empty());
    ASSERT_FALSE(final_shot.empty());
    EXPECT_TRUE(
        std::equal(plot.begin() + 20 * LCD_WIDTH, plot.begin() + 125 * LCD_WIDTH, final_shot.begin() + 20 * LCD_WIDTH))
        << "the tree stays";
    EXPECT_FALSE(std::equal(plot.begin() + 125 * LCD_WIDTH, plot.begin() + 215 * LCD_WIDTH,
                            final_shot.begin() + 125 * LCD_WIDTH))
        << "the cursor moved";
    EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), FLASH_FILE_SIZE);
}

TEST(Runner, SameInputsGiveByteIdenticalOutputs)
{
    TempDir a, b;
    for (const TempDir* d : {&a, &b}) {
        const auto r = run_runner({"--data", d->path(), "--clock", CLOCK, "--seed", "7", "--keys",
                                   "wait 500; down; enter; wait 200; shot " + d->file("s1.png") + "; mod; esc",
                                   "--shot", d->file("s2.png")});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    for (const char* f : {"s1.png", "s2.png", "fram.dat"}) {
        const auto x = read_file_bytes(a.file(f));
        ASSERT_FALSE(x.empty()) << f;
        EXPECT_EQ(x, read_file_bytes(b.file(f))) << f;
    }
    EXPECT_EQ(file_crc(a.file("flash.dat")), file_crc(b.file("flash.dat")));
}

TEST(Runner, OffEndsTheRunAndLaterShotsStillWork)
{
    TempDir dir;
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys",
                               "wait 500; right; right; enter; enter; shift+down; off; shot " + dir.file("after.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    // The picture stays as it was when the instrument was switched off: the
    // route's tree paged down (133) to its fifth line.
    EXPECT_TRUE(archive_row_shows(load_screenshot(dir.file("after.png")), 3, 3, "1П"_cp, true));
}

struct BadRun {
    const char* name;
    std::vector<std::string> args;
    std::string script;  // written to bad.txt and passed when not empty
    int status;
    std::string message;  // part of the one-line message
};

TEST(Runner, BadInputGivesAClearLineAndItsExitStatus)
{
    const std::vector<BadRun> cases = {
        {"unknown step with its line", {}, "wait 10\n\nenter\njump\n", 2, "bad.txt:4: unknown step 'jump'"},
        {"wait without number", {}, "wait soon\n", 2, "bad.txt:1: 'wait' needs a number"},
        {"shot with a wrong extension", {}, "shot a.gif\n", 2, "bad.txt:1: shot file 'a.gif'"},
        {"argument to a key", {}, "enter now\n", 2, "bad.txt:1: step 'enter' takes no argument"},
        {"bad --keys step", {"--keys", "enter; hop"}, "", 2, "--keys:1: unknown step 'hop'"},
        {"unknown option", {"--fast"}, "", 2, "unknown option '--fast'"},
        {"missing option value", {"--seed"}, "", 2, "--seed needs a number"},
        {"bad clock", {"--clock", "2026-02-30T10:00:00"}, "", 2, "--clock '2026-02-30T10:00:00'"},
        {"bad max time", {"--max-time", "-5"}, "", 2, "--max-time needs a positive number"},
        {"unreadable script", {"/no/such/script.txt"}, "", 2, "/no/such/script.txt: cannot read"},
        {"a folder as the script",
         {TARVIK2_SOURCE_DIR "/tests/scripts"},
         "",
         2,
         TARVIK2_SOURCE_DIR "/tests/scripts: a folder, not a file of steps"},
        {"time limit", {"--max-time", "1000", "--keys", "wait 5000"}, "", 3, "gave up after 1000 virtual ms"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::vector<std::string> args = {"--data", dir.path(), "--clock", CLOCK};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (!c.script.empty()) {
            write_text(dir.file("bad.txt"), c.script);
            args.push_back(dir.file("bad.txt"));
        }
        const auto r = run_runner(args);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << "\n" << r.output;
        if (c.status == 2) {
            // Refused before anything ran: no flash image was made.
            EXPECT_FALSE(std::filesystem::exists(dir.file("flash.dat"))) << c.name;
        }
    }
}

// Another program cuts flash.dat short while the runner runs (a copy written
// over it starts so): the runner stops with one line and exit status 2 and
// writes nothing more, whether it reads or writes the image next.
TEST(Runner, AnImageCutShortUnderTheRunStopsItWithOneLine)
{
    const struct {
        const char* name;
        u64 cut;            // the image's length after the cut
        const char* after;  // the steps after it
    } cases[] = {
        {"emptied, then a reading saved", 0, "enter; wait 300; enter; wait 3000; enter; wait 300; shift+enter; wait 300"},
        {"emptied, then the saved reading opened", 0, "down; right; enter; wait 500; enter; wait 500"},
        {"cut after its first pages, then a reading saved", 5000,
         "enter; wait 300; enter; wait 3000; enter; wait 300; shift+enter; wait 300"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        // A reading saved; then two shots into FIFOs, at which the runner
        // waits until the test reads them: the cut comes between the two.
        const std::string steps = "wait 1500; enter; wait 300; enter; wait 3000; enter; wait 300; shift+enter; "
                                  "wait 300; enter; wait 300; esc; wait 300; shot " +
                                  dir.file("s1.png") + "; shot " + dir.file("s2.png") + "; " + c.after;
        const std::string script = "D=" + shell_quote(dir.path()) +
                                   "\n"
                                   "mkfifo \"$D/s1.png\" \"$D/s2.png\"\n" +
                                   shell_quote(TARVIK2_RUN_PATH) + " --data \"$D\" --clock " + CLOCK +
                                   " --seed 1 --keys " + shell_quote(steps) +
                                   " >\"$D/log\" 2>&1 &\n"
                                   "run=$!\n"
                                   "cat \"$D/s1.png\" >/dev/null\n"
                                   "truncate -s " +
                                   std::to_string(c.cut) +
                                   " \"$D/flash.dat\"\n"
                                   "cat \"$D/s2.png\" >/dev/null\n"
                                   "wait $run; echo \"status $?\"\n";
        const RunResult r = run_command("bash -c " + shell_quote(script));
        const std::vector<u8> bytes = read_file_bytes(dir.file("log"));
        const std::string log(bytes.begin(), bytes.end());
        EXPECT_EQ(r.output, "status 2\n") << c.name << "\n" << r.output << log;
        EXPECT_EQ(log, "tarvik2-run: " + dir.file("flash.dat") +
                           " was changed by another program (cut short or written over); stopped, nothing more "
                           "written\n")
            << c.name;
        EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), c.cut) << c.name;
    }
}

TEST(Runner, UnwritableShotIsReportedWithExitStatus2)
{
    TempDir dir;
    const auto r = run_runner(
        {"--data", dir.path(), "--clock", CLOCK, "--keys", "wait 10", "--shot", dir.file("missing/dir/x.png")});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("missing/dir/x.png"), std::string::npos) << r.output;
}

TEST(Runner, HelpAndVersion)
{
    auto r = run_runner({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("--max-time MS"), std::string::npos);
    r = run_runner({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("tarvik2-run "), std::string::npos);
}

}  // namespace
