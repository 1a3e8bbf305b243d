// What the window offers beyond the instrument: screenshots without a
// dialog, recordings, the key help, hotkeys, held keys with their repeat
// count, the progress of the first start and one window per data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "analysis/measures.h"
#include "analysis/signal.h"
#include "front/common/instance.h"
#include "front/qt/keyhelp.h"
#include "front/qt/window.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "host/settings.h"
#include "tests/qt/qt_support.h"
#include "tests/support/apng_reader.h"
#include "tests/support/support.h"

// Qt's "slots" keyword would take the plot view's field of that name.
#undef slots
#include "screens/plot.h"

namespace {

size_t files_in_folder(const std::string& folder)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

class WindowTools : public WindowFixture {
protected:
    // A new picture on the screen, as the instrument code draws and yields.
    static std::vector<u16> show_picture(TFormEmul& form, u32 seed)
    {
        for (int i = 0; i < LCD_PIXELS; ++i) framebuffer[i] = static_cast<u16>((i + seed * 977) * 2654435761u >> 15);
        screen_dirty = 1;
        form.TimerRedrawTimer();
        return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS);
    }
};

void send_key(QWidget* w, QEvent::Type type, int key, Qt::KeyboardModifiers mods, bool autorepeat = false)
{
    QKeyEvent e(type, key, mods, QString(), autorepeat);
    QApplication::sendEvent(w, &e);
}

TEST_F(WindowTools, F12WritesNumberedScreenshotsAndReplacesNothing)
{
    const std::vector<u8> old = {7, 7, 7};
    write_file_bytes(dir.file("tarvik2-0001.png"), old);
    TFormEmul form;
    form.TimerStart->stop();
    ASSERT_TRUE(show_active(&form));
    const auto first = show_picture(form, 1);
    QTest::keyClick(&form, Qt::Key_F12);
    const auto second = show_picture(form, 2);
    QTest::keyClick(&form, Qt::Key_F12);
    EXPECT_EQ(load_screenshot(dir.file("tarvik2-0002.png")), first);
    EXPECT_EQ(load_screenshot(dir.file("tarvik2-0003.png")), second);
    EXPECT_EQ(read_file_bytes(dir.file("tarvik2-0001.png")), old);
    EXPECT_EQ(files_in_folder(dir.path()), 3u);
    EXPECT_EQ(pending_key, KEY_NONE);  // nothing for the instrument
    // The title says where it went.
    EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Tarvik-2 Emulator")));
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("tarvik2-0003.png"))) << form.windowTitle().toStdString();

    // A folder chosen once is kept, also for the next start.
    TempDir other;
    form.setScreenshotFolder(QString::fromStdString(other.path()));
    QTest::keyClick(&form, Qt::Key_F12);
    EXPECT_EQ(load_screenshot(other.file("tarvik2-0001.png")), second);
    TFormEmul again;
    again.TimerStart->stop();
    EXPECT_EQ(std::filesystem::path(again.screenshotFolder().toStdString()), std::filesystem::path(other.path()));
}

TEST_F(WindowTools, CtrlRRecordsEveryChangeOfThePictureIntoAnAnimatedPng)
{
    TFormEmul form;
    form.TimerStart->stop();
    ASSERT_TRUE(show_active(&form));
    std::vector<std::vector<u16>> shown = {show_picture(form, 1)};
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(form.isRecording());
    EXPECT_TRUE(form.ButtonRecord->isChecked());  // lit while recording
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("REC"))) << form.windowTitle().toStdString();
    for (u32 seed = 2; seed <= 4; ++seed) {
        QTest::qWait(20);
        shown.push_back(show_picture(form, seed));
        // The code yields again without drawing anything new: no frame.
        screen_dirty = 1;
        form.TimerRedrawTimer();
    }
    // The last change has not been copied by the redraw timer yet: stopping
    // takes it all the same.
    fill_rect(0, 0, 9, 9, COLOR_RED);
    screen_dirty = 1;
    shown.push_back(std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS));
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(form.isRecording());
    EXPECT_FALSE(form.ButtonRecord->isChecked());
    EXPECT_EQ(pending_key, KEY_NONE);

    const std::string file = form.recordingPath().toStdString();
    EXPECT_EQ(std::filesystem::path(file).filename(), "tarvik2-rec-0001.png");
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(dir.path()));
    ApngFile f;
    std::string error;
    ASSERT_TRUE(apng_read(read_file_bytes(file), &f, &error)) << error;
    ASSERT_EQ(f.frames.size(), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(f.frames[i].canvas == shown[i]) << "frame " << i;
        EXPECT_GE(f.frames[i].delay_num, 1u);
        EXPECT_EQ(f.frames[i].delay_den, 1000u);
    }
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("tarvik2-rec-0001.png")));
}

TEST_F(WindowTools, ClosingTheWindowCompletesARecording)
{
    std::string file;
    {
        TFormEmul form;
        form.TimerStart->stop();
        show_picture(form, 1);
        ASSERT_TRUE(form.toggleRecording());
        show_picture(form, 2);
        file = form.recordingPath().toStdString();
        form.close();
        EXPECT_FALSE(form.isRecording());
    }
    ApngFile f;
    std::string error;
    ASSERT_TRUE(apng_read(read_file_bytes(file), &f, &error)) << error;
    EXPECT_EQ(f.frames.size(), 2u);
}

TEST_F(WindowTools, F1ShowsTheKeysAndAnyKeyClosesItWithoutReachingTheInstrument)
{
    std::ofstream(dir.file("k.ini")) << "Num+8 = up\nQ = fly\n";
    TFormEmul form;
    form.TimerStart->stop();
    form.loadKeyMap(QString::fromStdString(dir.file("k.ini")));
    ASSERT_TRUE(show_active(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    ASSERT_TRUE(form.keyHelp()->isVisible());
    EXPECT_EQ(form.keyHelp()->geometry(), form.rect());
    const QString text = form.keyHelp()->findChild<QLabel*>(QStringLiteral("KeyHelpText"))->text();
    for (const char* part :
         {"Num+8", "F12", "F11", "Full screen", "Ctrl+R", "Ctrl+M", "Ctrl+Q", "Ctrl+S", "Ctrl+C", "Ctrl+0", "131",
          "Mod (Shift)", "k.ini:2:", "Esc = none", "held down"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
    pending_key = KEY_NONE;
    QTest::keyClick(&form, Qt::Key_Up);
    EXPECT_FALSE(form.keyHelp()->isVisible());
    EXPECT_EQ(pending_key, KEY_NONE);
    // The Keys button opens it too; F1 again closes it.
    QTest::mouseClick(form.ButtonKeys, Qt::LeftButton);
    EXPECT_TRUE(form.keyHelp()->isVisible());
    QTest::keyClick(&form, Qt::Key_F1);
    EXPECT_FALSE(form.keyHelp()->isVisible());
}

TEST_F(WindowTools, HotkeysWorkTheButtonsAndTheLatchedModIsLit)
{
    TFormEmul form;
    form.TimerStart->stop();
    host_install(&form);
    ASSERT_TRUE(show_active(&form));
    const QImage plain = form.SpeedButtonMod->grab().toImage();
    QTest::keyClick(&form, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(form.SpeedButtonMod->isChecked());
    EXPECT_EQ(pending_key, KEY_MOD);
    EXPECT_TRUE(key_held(KEY_MOD));
    // Lit: most of the button face turns a strong orange.
    const QImage lit = form.SpeedButtonMod->grab().toImage();
    int orange = 0, before = 0;
    for (int y = 0; y < lit.height(); ++y)
        for (int x = 0; x < lit.width(); ++x) {
            const QColor c = lit.pixelColor(x, y), p = plain.pixelColor(x, y);
            orange += c.red() > 200 && c.green() > 120 && c.green() < 190 && c.blue() < 80;
            before += p.red() > 200 && p.green() > 120 && p.green() < 190 && p.blue() < 80;
        }
    EXPECT_GT(orange, lit.width() * lit.height() / 2);
    EXPECT_EQ(before, 0);
    QTest::keyClick(&form, Qt::Key_M, Qt::ControlModifier);
    EXPECT_FALSE(form.SpeedButtonMod->isChecked());

    show_picture(form, 5);
    QApplication::clipboard()->clear();
    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(LCD_WIDTH, LCD_HEIGHT));
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB16), form.ImageScr->bitmap);

    QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(power_off_flag, 1);
    EXPECT_FALSE(form.isVisible());
}

// A waveform in the vibrometer's plot, so that the cursor can move.
void open_plot(PlotView* pv)
{
    settings_defaults();
    results_reset();
    results.group[1].active = 1;
    SignalRecord* r = record_at(1, KIND_W, Q_A);
    r->type = REC_ACQUIRED;
    r->kind = KIND_W;
    r->quantity = Q_A;
    r->count = 4096;
    r->x0 = 0;
    r->dx = 1e-3f;
    r->x_last = 4095e-3f;
    r->scale = 0.001f;
    r->data_bytes = 4096 * 4;
    std::fill(r->data, r->data + 4096, 0);
    r->data[5] = 20000;
    r->peak = 20000;
    plot_init(pv, 3, 153, 269, 211);
    plot_set_group(pv, 1);
    plot_set_source(pv, KIND_W, Q_A);
    plot_draw(pv);
}

TEST_F(WindowTools, AHeldKeyRepeatsWithItsCountAndTheCursorSpeedsUp)
{
    TFormEmul form;
    form.TimerStart->stop();
    host_install(&form);
    PlotView pv{};
    open_plot(&pv);
    ASSERT_EQ(pv.slots[KIND_W].index, 0);

    // Right held: the first press, then the repeats the keyboard sends.
    send_key(&form, QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    EXPECT_EQ(pending_key, KEY_RIGHT);
    struct Stage {
        int repeats;  // repeats sent before the key is taken
        u32 count;    // the count the word carries
        i32 index;    // the cursor after the plot took it
    };
    // Steps: 1 below 65 repeats, 10 below 161, then 50.
    const Stage stages[] = {{0, 0, 1}, {64, 64, 2}, {1, 65, 12}, {95, 160, 22}, {1, 161, 72}, {10, 171, 122}};
    for (const auto& s : stages) {
        for (int i = 0; i < s.repeats; ++i) send_key(&form, QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, true);
        ASSERT_EQ(pending_key, KEY_RIGHT | s.count << 16) << s.count;
        EXPECT_EQ(plot_handle_key(&pv, key_poll_raw()), 1);
        EXPECT_EQ(pv.slots[KIND_W].index, s.index) << "after count " << s.count;
    }
    // Let go and press again: the count starts over; Shift is kept.
    send_key(&form, QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    send_key(&form, QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(pending_key, KEY_LEFT | KEY_SHIFT);
    send_key(&form, QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier, true);
    EXPECT_EQ(pending_key, KEY_LEFT | KEY_SHIFT | 1u << 16);
    // Another key pressed meanwhile ends the count too.
    send_key(&form, QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, true);
    EXPECT_EQ(pending_key, KEY_UP);
    // Keys the instrument does not have never carry a count.
    send_key(&form, QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    send_key(&form, QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, true);
    EXPECT_EQ(pending_key, KEY_NONE);
}

TEST_F(WindowTools, AHeldButtonRepeatsAsAHeldKeyDoesAndTheCursorSpeedsUp)
{
    TFormEmul form;
    form.TimerStart->stop();
    host_install(&form);
    ASSERT_TRUE(show_active(&form));
    PlotView pv{};
    open_plot(&pv);

    // Pressed: the key goes at once, and the repeats follow while held.
    QTest::mousePress(form.ButtonRight, Qt::LeftButton);
    EXPECT_EQ(pending_key, KEY_RIGHT);
    EXPECT_TRUE(form.TimerKeyRepeat->isActive());
    // The same stages as a held PC key: 1 below 65 repeats, 10 below 161, then 50.
    const struct {
        int repeats;
        u32 count;
        i32 index;
    } stages[] = {{0, 0, 1}, {64, 64, 2}, {1, 65, 12}, {95, 160, 22}, {1, 161, 72}, {10, 171, 122}};
    for (const auto& st : stages) {
        for (int i = 0; i < st.repeats; ++i) form.TimerKeyRepeatTimer();
        ASSERT_EQ(pending_key, KEY_RIGHT | st.count << 16) << st.count;
        EXPECT_EQ(plot_handle_key(&pv, key_poll_raw()), 1);
        EXPECT_EQ(pv.slots[KIND_W].index, st.index) << "after count " << st.count;
    }
    // Let go: no more keys, not even one for the release.
    QTest::mouseRelease(form.ButtonRight, Qt::LeftButton);
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());
    EXPECT_EQ(pending_key, KEY_NONE);
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_NONE);

    // Pressed again, with the Mod toggle down: shifted, the count from 0.
    form.SpeedButtonMod->setChecked(true);
    QTest::mousePress(form.ButtonLeft, Qt::LeftButton);
    EXPECT_EQ(pending_key, KEY_LEFT | KEY_SHIFT);
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_LEFT | KEY_SHIFT | 1u << 16);
    QTest::mouseRelease(form.ButtonLeft, Qt::LeftButton);
    form.SpeedButtonMod->setChecked(false);

    // The timer itself repeats, at the keyboard's rate after a pause.
    QTest::mousePress(form.ButtonUp, Qt::LeftButton);
    EXPECT_EQ(form.TimerKeyRepeat->interval(), 500);
    EXPECT_TRUE(process_events_until([] { return (pending_key >> 16) >= 3; }, 20000)) << pending_key;
    EXPECT_EQ(pending_key & 0xFFFF, KEY_UP);
    EXPECT_LT(form.TimerKeyRepeat->interval(), 500);
    QTest::mouseRelease(form.ButtonUp, Qt::LeftButton);
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());

    // A finger on a button does the same.
    const std::unique_ptr<QPointingDevice> touch(QTest::createTouchDevice());
    const QPoint on_down = form.ButtonDown->geometry().center();
    pending_key = KEY_NONE;
    QTest::touchEvent(&form, touch.get()).press(0, on_down, &form);
    EXPECT_EQ(pending_key, KEY_DOWN);
    EXPECT_TRUE(form.TimerKeyRepeat->isActive());
    form.TimerKeyRepeatTimer();
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_DOWN | 2u << 16);
    QTest::touchEvent(&form, touch.get()).release(0, on_down, &form);
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());

    // A held button that goes away (full screen hides the keypad) stops.
    QTest::mousePress(form.ButtonUp, Qt::LeftButton);
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_UP | 1u << 16);
    form.setFullScreen(true);
    ASSERT_FALSE(form.ButtonUp->isVisible());
    pending_key = KEY_NONE;
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_NONE);
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());
    form.setFullScreen(false);
    QTest::mouseRelease(form.ButtonUp, Qt::LeftButton);

    // The Mod toggle flips once and never repeats.
    pending_key = KEY_NONE;
    QTest::mousePress(form.SpeedButtonMod, Qt::LeftButton);
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());
    form.TimerKeyRepeatTimer();
    QTest::mouseRelease(form.SpeedButtonMod, Qt::LeftButton);
    EXPECT_EQ(pending_key, KEY_MOD);
    EXPECT_TRUE(form.SpeedButtonMod->isChecked());
    EXPECT_FALSE(form.TimerKeyRepeat->isActive());
    form.TimerKeyRepeatTimer();
    EXPECT_EQ(pending_key, KEY_MOD);
}

TEST_F(WindowTools, ShiftIsReadFromTheKeyEvents)
{
    TFormEmul form;
    form.TimerStart->stop();
    host_install(&form);
    EXPECT_FALSE(key_held(KEY_MOD));
    send_key(&form, QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);  // X11 reports the state before the key
    EXPECT_TRUE(key_held(KEY_MOD));
    send_key(&form, QEvent::KeyPress, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_TRUE(key_held(KEY_MOD));
    send_key(&form, QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_FALSE(key_held(KEY_MOD));
    send_key(&form, QEvent::KeyPress, Qt::Key_Down, Qt::ShiftModifier);  // Shift seen with another key
    EXPECT_TRUE(key_held(KEY_MOD));
    send_key(&form, QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
    EXPECT_FALSE(key_held(KEY_MOD));
    EXPECT_FALSE(key_held(KEY_UP));
}

bool g_started = false;
int quiet_routine()
{
    g_started = true;
    while (!power_off_flag) key_poll();
    return 1;
}

TEST_F(WindowTools, TheFirstStartShowsHowFarTheFlashImageIs)
{
    g_started = false;
    emu_set_main(quiet_routine);
    TFormEmul form;
    form.show();
    int seen_visible = 0, highest = -1;
    bool visible_after_start = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &form, [&] {
        if (form.FlashProgress->isVisible()) {
            ++seen_visible;
            highest = std::max(highest, form.FlashProgress->value());
        }
        if (g_started) {
            visible_after_start = form.FlashProgress->isVisible();
            watch.stop();
            form.close();
        }
    });
    watch.start(0);
    ASSERT_TRUE(process_events_until([&] { return form.runFinished(); }, 60000));
    EXPECT_TRUE(g_started);
    EXPECT_GT(seen_visible, 1);  // shown, and the window stayed alive meanwhile
    EXPECT_GE(highest, 50);
    EXPECT_FALSE(visible_after_start);
    EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), FLASH_FILE_SIZE);
}

TEST_F(WindowTools, ClosingDuringTheFirstStartLeavesNoHalfImage)
{
    g_started = false;
    emu_set_main(quiet_routine);
    TFormEmul form;
    form.show();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &form, [&] {
        if (form.FlashProgress->isVisible() && form.FlashProgress->value() >= 10) {
            watch.stop();
            form.close();
        }
    });
    watch.start(0);
    ASSERT_TRUE(process_events_until([&] { return form.runFinished(); }, 60000));
    EXPECT_FALSE(g_started);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(std::filesystem::exists(dir.file("flash.dat")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("fram.dat")));
}

TEST(WindowProgram, ASecondWindowOnTheSameFolderSaysSoAndTouchesNothing)
{
    TempDir dir;
    write_file_bytes(dir.file("fram.dat"), std::vector<u8>(32768, 0x5A));
    const auto before = std::filesystem::last_write_time(dir.file("fram.dat"));
    DataDirLock first;
    std::string error;
    ASSERT_TRUE(first.acquire(dir.path(), &error)) << error;
    const EmuResult r = run_emu({"--data", dir.path()});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("another program (a Tarvik-2 emulator or the archive tool) is using this data folder"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(files_in_folder(dir.path()), 1u);
    EXPECT_EQ(read_file_bytes(dir.file("fram.dat")), std::vector<u8>(32768, 0x5A));
    EXPECT_EQ(std::filesystem::last_write_time(dir.file("fram.dat")), before);
}

TEST(WindowProgram, AWindowOnAFolderLinkingAnImageInUseSaysSo)
{
    TempDir held, dir;
    write_file_bytes(held.file("flash.dat"), {1, 2, 3});
    std::filesystem::create_symlink(held.file("flash.dat"), dir.file("flash.dat"));
    DataDirLock first;
    std::string error;
    ASSERT_TRUE(first.acquire(held.path(), &error)) << error;
    const EmuResult r = run_emu({"--data", dir.path()});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(dir.file("flash.dat") + ": another program (a Tarvik-2 emulator or the archive tool) is "
                                                    "using this file"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(files_in_folder(dir.path()), 1u);
    EXPECT_EQ(read_file_bytes(held.file("flash.dat")), std::vector<u8>({1, 2, 3}));
}

TEST(WindowProgram, UserDataIsAFolderOfItsOwnUnderTheUsersDataHome)
{
    TempDir home;
    const std::string folder = home.file("tarvik2");
    std::filesystem::create_directory(folder);
    DataDirLock first;
    std::string error;
    ASSERT_TRUE(first.acquire(folder, &error)) << error;
    // The folder the option names is the one in use: the window refuses it.
    const EmuResult r = run_emu({"--user-data"}, "XDG_DATA_HOME=" + home.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(folder + ": another program (a Tarvik-2 emulator"), std::string::npos) << r.output;
}

TEST(WindowProgram, HelpVersionAndBadArguments)
{
    const EmuResult help = run_emu({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part :
         {"--data DIR", "--user-data", "--scale", "fit", "--keymap FILE", "--version", "--signal FILE", "--rpm"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
    const EmuResult version = run_emu({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("tarvik2-emu ") + TARVIK2_VERSION + "\n");
    const EmuResult bad = run_emu({"--scale", "7"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("--scale 7"), std::string::npos) << bad.output;
}

}  // namespace
