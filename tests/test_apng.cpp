// Recordings of the LCD as animated PNG: the recorder itself, read back with
// the tests' own reader, and the runner's record and stop-record steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "front/common/apng.h"
#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "tests/support/apng_reader.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

constexpr int W = LCD_WIDTH, H = LCD_HEIGHT;

// A picture with something on it everywhere, so that every region counts.
std::vector<u16> picture(u32 seed)
{
    std::vector<u16> px(LCD_PIXELS);
    for (int i = 0; i < LCD_PIXELS; ++i) px[i] = static_cast<u16>((i / 7 + seed) * 2654435761u >> 16);
    return px;
}

std::vector<u16> with_box(std::vector<u16> px, int x, int y, int w, int h, u16 colour)
{
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) px[j * W + i] = colour;
    return px;
}

ApngFile read_apng(const std::string& path)
{
    ApngFile f;
    std::string error;
    EXPECT_TRUE(apng_read(read_file_bytes(path), &f, &error)) << path << ": " << error;
    return f;
}

TEST(ApngRecorder, OneFramePerChangeShownForAsLongAsItStayed)
{
    TempDir dir;
    const auto a = picture(1);
    const auto b = with_box(a, 100, 50, 7, 9, COLOR_RED);  // a small change
    const auto c = picture(2);                             // everything changes
    ApngRecorder rec;
    std::string error;
    ASSERT_TRUE(rec.start(dir.file("r.png"), a.data(), W, H, 1000, &error)) << error;
    EXPECT_TRUE(rec.recording());
    EXPECT_TRUE(rec.frame(a.data(), 1100));  // unchanged: no frame
    EXPECT_TRUE(rec.frame(b.data(), 1500));
    EXPECT_TRUE(rec.frame(b.data(), 1700));
    EXPECT_TRUE(rec.frame(c.data(), 2500));
    EXPECT_EQ(rec.frames(), 3u);
    ASSERT_TRUE(rec.stop(c.data(), 4000, &error)) << error;
    EXPECT_FALSE(rec.recording());

    const ApngFile f = read_apng(dir.file("r.png"));
    ASSERT_EQ(f.frames.size(), 3u);
    EXPECT_EQ(f.width, W);
    EXPECT_EQ(f.height, H);
    EXPECT_EQ(f.plays, 0u);  // loops
    const double delays[] = {500, 1000, 1500};
    const std::vector<u16>* canvases[] = {&a, &b, &c};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(f.frames[i].delay_ms(), delays[i]) << "frame " << i;
        EXPECT_TRUE(f.frames[i].canvas == *canvases[i]) << "frame " << i;
    }
    // The small change is stored as just its rectangle.
    EXPECT_EQ(f.frames[1].x, 100);
    EXPECT_EQ(f.frames[1].y, 50);
    EXPECT_EQ(f.frames[1].width, 7);
    EXPECT_EQ(f.frames[1].height, 9);
    // A viewer that does not animate shows the first picture.
    EXPECT_TRUE(f.still == a);
}

TEST(ApngRecorder, ThePictureAtStopIsTheLastFrame)
{
    TempDir dir;
    const auto a = picture(3);
    const auto last = with_box(a, 0, 0, W, 1, COLOR_WHITE);
    ApngRecorder rec;
    std::string error;
    ASSERT_TRUE(rec.start(dir.file("r.png"), a.data(), W, H, 0, &error));
    ASSERT_TRUE(rec.stop(last.data(), 800, &error)) << error;
    const ApngFile f = read_apng(dir.file("r.png"));
    ASSERT_EQ(f.frames.size(), 2u);
    EXPECT_DOUBLE_EQ(f.frames[0].delay_ms(), 800);
    EXPECT_TRUE(f.frames[1].canvas == last);
    EXPECT_GE(f.frames[1].delay_num, 1u);  // never a zero delay
}

TEST(ApngRecorder, PicturesLongerThanOneDelayAreRepeatedInvisibly)
{
    TempDir dir;
    const auto a = picture(4);
    ApngRecorder rec;
    std::string error;
    ASSERT_TRUE(rec.start(dir.file("r.png"), a.data(), W, H, 0, &error));
    ASSERT_TRUE(rec.stop(a.data(), 150000, &error)) << error;
    const ApngFile f = read_apng(dir.file("r.png"));
    ASSERT_EQ(f.frames.size(), 3u);
    double total = 0;
    for (const auto& fr : f.frames) {
        EXPECT_TRUE(fr.canvas == a);
        EXPECT_LE(fr.delay_num, APNG_MAX_DELAY_MS);
        total += fr.delay_ms();
    }
    EXPECT_DOUBLE_EQ(total, 150000);
}

TEST(ApngRecorder, WriteFailuresAreReportedWithTheFile)
{
    const auto a = picture(5);
    std::string error;
    {
        ApngRecorder rec;
        EXPECT_FALSE(rec.start("/nonexistent-folder/r.png", a.data(), W, H, 0, &error));
        EXPECT_NE(error.find("/nonexistent-folder/r.png"), std::string::npos) << error;
        EXPECT_FALSE(rec.recording());
    }
    if (std::filesystem::exists("/dev/full")) {
        // A full disk shows at the latest when the file is completed.
        ApngRecorder rec;
        error.clear();
        bool ok = rec.start("/dev/full", a.data(), W, H, 0, &error);
        for (u32 i = 0; ok && i < 50; ++i) ok = rec.frame(picture(10 + i).data(), 100 * (i + 1));
        if (ok) ok = rec.stop(a.data(), 10000, &error);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(rec.recording());
        EXPECT_NE((error + rec.error()).find("/dev/full"), std::string::npos) << error;
    }
}

// --- the runner's steps ---

const std::string CLOCK = "2026-12-10T12:00:00";

TEST(RunnerRecording, SixtySecondsAtTheMainMenuStaySmallAndEndOnTheLastScreen)
{
    TempDir dir;
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--seed", "1", "--keys",
                               "wait 1500; record " + dir.file("menu.png") + "; wait 60000; stop-record; shot " +
                                   dir.file("last.png") + "; shot " + dir.file("single.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    const ApngFile f = read_apng(dir.file("menu.png"));
    ASSERT_FALSE(f.frames.empty());
    // The clock changes once a second, nothing else.
    EXPECT_GE(f.frames.size(), 60u);
    EXPECT_LE(f.frames.size(), 62u);
    const double total = std::accumulate(f.frames.begin(), f.frames.end(), 0.0,
                                         [](double s, const ApngFrame& fr) { return s + fr.delay_ms(); });
    EXPECT_DOUBLE_EQ(total, 60000);
    for (size_t i = 1; i + 1 < f.frames.size(); ++i) {
        EXPECT_DOUBLE_EQ(f.frames[i].delay_ms(), 1000) << "frame " << i;
        EXPECT_LT(f.frames[i].width * f.frames[i].height, 40 * 20) << "frame " << i;  // the seconds digits
    }
    EXPECT_TRUE(main_menu_shows(f.frames.front().canvas, 1));
    EXPECT_TRUE(f.frames.back().canvas == load_screenshot(dir.file("last.png")));
    // Sixty changes cost less than a second screenshot would.
    const auto size = std::filesystem::file_size(dir.file("menu.png"));
    EXPECT_LT(size, 2 * std::filesystem::file_size(dir.file("single.png"))) << size << " bytes";
}

TEST(RunnerRecording, SameInputsGiveByteIdenticalRecordings)
{
    TempDir a, b;
    for (const TempDir* d : {&a, &b}) {
        const auto r =
            run_runner({"--data", d->path(), "--clock", CLOCK, "--seed", "3", "--keys",
                        "wait 1000; record " + d->file("r.png") + "; right; right; down; left; wait 300; stop-record"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    const auto x = read_file_bytes(a.file("r.png"));
    ASSERT_FALSE(x.empty());
    EXPECT_EQ(x, read_file_bytes(b.file("r.png")));
    const ApngFile f = read_apng(a.file("r.png"));
    // Four selection moves.
    EXPECT_GE(f.frames.size(), 5u);
    EXPECT_TRUE(main_menu_shows(f.frames.front().canvas, 1));
    EXPECT_TRUE(main_menu_shows(f.frames.back().canvas, 5));
}

TEST(RunnerRecording, ARecordingStillRunningAfterTheLastStepIsCompleted)
{
    TempDir dir;
    const auto r = run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys",
                               "wait 500; record " + dir.file("open.apng") + "; right; wait 400", "--shot",
                               dir.file("final.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    const ApngFile f = read_apng(dir.file("open.apng"));
    ASSERT_GE(f.frames.size(), 2u);
    EXPECT_TRUE(f.frames.back().canvas == load_screenshot(dir.file("final.png")));
}

TEST(RunnerRecording, StepsOutOfPlaceAreNamedWithTheirLine)
{
    TempDir dir;
    const struct {
        std::string keys;
        std::string message;
    } cases[] = {
        {"wait 10\nstop-record", "--keys:2: 'stop-record' without a recording"},
        {"record a.png\nwait 5\nrecord b.png", "--keys:3: 'record' while the recording of --keys:1 runs"},
        {"record", "--keys:1: 'record' needs a file name"},
        {"record movie.gif", "--keys:1: recording file 'movie.gif' must end in .png or .apng"},
        {"stop-record now", "--keys:1: step 'stop-record' takes no argument"},
    };
    for (const auto& c : cases) {
        const auto r = run_runner({"--data", dir.path(), "--keys", c.keys});
        EXPECT_EQ(r.status, 2) << c.keys;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.keys << " gave: " << r.output;
    }
    // Nothing ran: the folder was not touched.
    EXPECT_FALSE(std::filesystem::exists(dir.file("flash.dat")));
}

TEST(RunnerRecording, AnUnwritableRecordingGivesExitStatus2)
{
    TempDir dir;
    const auto r =
        run_runner({"--data", dir.path(), "--clock", CLOCK, "--keys", "wait 200; record /nonexistent/r.png; wait 200"});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("/nonexistent/r.png"), std::string::npos) << r.output;
}

}  // namespace
