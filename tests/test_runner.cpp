// The headless runner end to end: steps in, screenshots and files out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "gfx/framebuffer.h"
#include "tests/support/support.h"

namespace {

const std::string CLOCK = "2026-12-10T12:00:00";

// The stand-in main routine fills the box of the last key taken: green for
// a plain key, red for a shifted one. Box k spans x 14+(k-1)*42 .. +36.
u16 key_box_colour(const std::vector<u16>& px, int key)
{
    const int x = 14 + (key - 1) * 42 + 18;
    return px[170 * LCD_WIDTH + x];
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

TEST(Runner, ScriptStepsProduceScreenshotsThatShowTheKeysTaken)
{
    TempDir dir;
    const std::string script = dir.file("keys.txt");
    write_text(script,
               "# plain, shifted and latched keys\n"
               "wait 300\n"
               "enter; shot " + dir.file("enter.png") + "\n"
               "shift+up\n"
               "shot " + dir.file("shift_up.png") + "\n"
               "hold; left; release  # Mod toggle down while Left is pressed\n"
               "shot " + dir.file("hold_left.bmp") + "\n");
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--seed", "1", script, "--keys", "down",
                               "--shot", dir.file("final.png")});
    ASSERT_EQ(r.status, 0) << r.output;

    const auto enter = load_screenshot(dir.file("enter.png"));
    ASSERT_EQ(enter.size(), size_t(LCD_PIXELS));
    EXPECT_EQ(key_box_colour(enter, 3), COLOR_GOOD);
    EXPECT_EQ(key_box_colour(enter, 4), COLOR_WHITE);

    const auto up = load_screenshot(dir.file("shift_up.png"));
    EXPECT_EQ(key_box_colour(up, 4), COLOR_RED);
    EXPECT_EQ(key_box_colour(up, 3), COLOR_WHITE);

    const auto bmp = read_file_bytes(dir.file("hold_left.bmp"));
    ASSERT_EQ(bmp.size(), 66u + LCD_PIXELS * 2u);
    const int x = 14 + 5 * 42 + 18, y = 170;
    const size_t at = 66 + ((239 - y) * LCD_WIDTH + x) * 2;
    EXPECT_EQ(bmp[at] | (bmp[at + 1] << 8), COLOR_RED);

    // --keys runs after the script, --shot after the last step.
    const auto last = load_screenshot(dir.file("final.png"));
    EXPECT_EQ(key_box_colour(last, 5), COLOR_GOOD);

    EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), 276824064u);
}

TEST(Runner, SameInputsGiveByteIdenticalOutputs)
{
    TempDir a, b;
    for (const TempDir* d : {&a, &b}) {
        const auto r = run_runner({"--data", d->path(), "--clock", CLOCK, "--seed", "7", "--keys",
                                   "wait 500; enter; wait 200; shot " + d->file("s1.png") + "; mod; esc",
                                   "--shot", d->file("s2.png")});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    for (const char* f : {"s1.png", "s2.png"}) {
        const auto x = read_file_bytes(a.file(f));
        ASSERT_FALSE(x.empty()) << f;
        EXPECT_EQ(x, read_file_bytes(b.file(f))) << f;
    }
}

TEST(Runner, ExistingFlashFileIsLeftUnchanged)
{
    TempDir dir;
    const std::vector<u8> small = {1, 2, 3, 4, 5};
    write_file_bytes(dir.file("flash.dat"), small);
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys", "wait 100"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file_bytes(dir.file("flash.dat")), small);
}

TEST(Runner, OffEndsTheRunAndLaterShotsStillWork)
{
    TempDir dir;
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys",
                               "right; off; shot " + dir.file("after.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(key_box_colour(load_screenshot(dir.file("after.png")), 7), COLOR_GOOD);
}

struct BadRun {
    const char* name;
    std::vector<std::string> args;
    std::string script;      // written to bad.txt and passed when not empty
    int status;
    std::string message;     // part of the one-line message
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

TEST(Runner, UnwritableShotIsReportedWithExitStatus2)
{
    TempDir dir;
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys", "wait 10", "--shot",
                               dir.file("missing/dir/x.png")});
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
