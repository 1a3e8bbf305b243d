// The desktop window on the offscreen platform.
#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include "app/startup.h"
#include "front/common/picture.h"
#include "front/qt/window.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "tests/qt/qt_support.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_window_settings();
        device_reset();
        framebuffer_reset();
        emu_set_main(instrument_main);
        data_dir_set(dir.path());
    }
    void TearDown() override
    {
        emu_set_main(instrument_main);
        data_dir_set("");
        host_install(nullptr);
        device_reset();
    }
    TempDir dir;
};

struct KeyCase {
    int key;
    Qt::KeyboardModifiers mods;
    bool mod_down;
    u32 expected;
};

TEST_F(WindowTest, PcKeysAndButtonsPostTheirCodes)
{
    TFormEmul form;
    form.TimerStart->stop();
    const std::vector<KeyCase> cases = {
        {Qt::Key_Left, Qt::NoModifier, false, 6},      {Qt::Key_Right, Qt::NoModifier, false, 7},
        {Qt::Key_Up, Qt::NoModifier, false, 4},        {Qt::Key_Down, Qt::NoModifier, false, 5},
        {Qt::Key_Escape, Qt::NoModifier, false, 2},    {Qt::Key_Return, Qt::NoModifier, false, 3},
        {Qt::Key_Enter, Qt::KeypadModifier, false, 3}, {Qt::Key_Return, Qt::ShiftModifier, false, 131},
        {Qt::Key_Up, Qt::ShiftModifier, false, 132},   {Qt::Key_Down, Qt::NoModifier, true, 133},
        {Qt::Key_A, Qt::NoModifier, false, 65535},     {Qt::Key_F2, Qt::NoModifier, false, 65535},
    };
    for (const auto& c : cases) {
        form.SpeedButtonMod->setChecked(c.mod_down);
        pending_key = 0;
        QTest::keyClick(&form, static_cast<Qt::Key>(c.key), c.mods);
        EXPECT_EQ(pending_key, c.expected) << "key " << c.key << " mods " << c.mods << " mod " << c.mod_down;
    }

    // An unmapped key replaces a key not yet taken.
    form.SpeedButtonMod->setChecked(false);
    QTest::keyClick(&form, Qt::Key_Left);
    QTest::keyClick(&form, Qt::Key_Space);
    EXPECT_EQ(pending_key, 65535u);

    // On-screen buttons, plain and with the Mod toggle down.
    const std::vector<std::pair<QPushButton*, u32>> buttons = {{form.ButtonEsc, 2},  {form.ButtonEnter, 3},
                                                               {form.ButtonUp, 4},   {form.ButtonDown, 5},
                                                               {form.ButtonLeft, 6}, {form.ButtonRight, 7}};
    for (bool latched : {false, true}) {
        form.SpeedButtonMod->setChecked(latched);
        for (auto [button, code] : buttons) {
            QTest::mouseClick(button, Qt::LeftButton);
            EXPECT_EQ(pending_key, latched ? code + 128 : code) << button->objectName().toStdString();
        }
    }

    // Mod flips the toggle and posts plain 1; key_held(1) follows the toggle.
    form.SpeedButtonMod->setChecked(false);
    host_install(&form);
    QTest::mouseClick(form.SpeedButtonMod, Qt::LeftButton);
    EXPECT_TRUE(form.SpeedButtonMod->isChecked());
    EXPECT_EQ(pending_key, 1u);
    EXPECT_TRUE(key_held(KEY_MOD));
    QTest::mouseClick(form.SpeedButtonMod, Qt::LeftButton);
    EXPECT_FALSE(form.SpeedButtonMod->isChecked());
    EXPECT_FALSE(key_held(KEY_MOD));

    // After power-off no shift bit is added any more.
    power_off_flag = 1;
    form.SpeedButtonMod->setChecked(true);
    QTest::keyClick(&form, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(pending_key, 4u);
}

TEST_F(WindowTest, ControlsHaveTheirPlacesAndCaptions)
{
    TFormEmul form;
    form.TimerStart->stop();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarvik-2 Emulator"));
    EXPECT_EQ(form.size(), QSize(788, 766));
    EXPECT_EQ(form.ImageScr->geometry(), QRect(0, 0, 788, 591));
    EXPECT_EQ(form.ImageScr->bitmap.size(), QSize(320, 240));
    EXPECT_EQ(form.ImageScr->bitmap.format(), QImage::Format_RGB16);
    EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40));
    EXPECT_EQ(form.ButtonPower->text(), QStringLiteral("ON/OFF"));
    EXPECT_EQ(form.SpeedButtonMod->text(), QStringLiteral("Mod (Shift)"));
    EXPECT_TRUE(form.SpeedButtonMod->isCheckable());
    EXPECT_FALSE(form.Button15->isVisible());
    EXPECT_EQ(form.TimerTick32->interval(), 31);
    EXPECT_EQ(form.TimerRedraw->interval(), 100);
    EXPECT_EQ(form.TimerStart->interval(), 250);
}

// A main routine that records how it ran.
bool routine_started = false;
bool routine_returned = false;
bool flash_open_in_routine = false;
int test_routine()
{
    routine_started = true;
    flash_open_in_routine = flash_handle != 0;
    fg_color = COLOR_RED;
    bg_color = COLOR_BLUE;
    lcd_clear();
    fill_rect(10, 10, 100, 50, COLOR_WHITE);
    idle_yield();
    while (!power_off_flag) key_poll();
    delay_ms(10);
    routine_returned = true;
    return 1;
}

TEST_F(WindowTest, RunCreatesFlashAndCloseUnwindsTheCodeBeforeTheWindowCloses)
{
    routine_started = false;
    routine_returned = false;
    flash_open_in_routine = false;
    emu_set_main(test_routine);
    TFormEmul form;
    form.show();
    bool closed_while_running = false;
    bool saw_running = false;
    // Ask to close from inside the run, the way a click on the frame does.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (!routine_started) return;
        poll.stop();
        saw_running = emu_running();
        const bool accepted = form.close();
        closed_while_running = accepted;
    });
    poll.start(10);
    ASSERT_TRUE(process_events_until([&] { return form.runFinished(); }, 20000));
    EXPECT_TRUE(saw_running);
    EXPECT_FALSE(closed_while_running);  // the close waited for the code
    EXPECT_TRUE(routine_returned);
    EXPECT_TRUE(flash_open_in_routine);
    EXPECT_EQ(flash_handle, 0);      // closed after the run
    EXPECT_FALSE(form.isVisible());  // and then the window closed
    // The new image is erased flash: every byte 0xFF.
    u64 size = 0;
    EXPECT_TRUE(file_all_bytes(dir.file("flash.dat"), 0xFF, &size));
    EXPECT_EQ(size, FLASH_FILE_SIZE);
}

TEST_F(WindowTest, ExistingFlashIsOpenedUnchanged)
{
    const std::vector<u8> odd = {9, 8, 7};
    write_file_bytes(dir.file("flash.dat"), odd);
    emu_set_main([]() -> int {
        flash_open_in_routine = flash_handle != 0;
        return 1;
    });
    flash_open_in_routine = false;
    TFormEmul form;
    form.TimerStart->stop();
    form.Button15Click();
    EXPECT_TRUE(flash_open_in_routine);
    EXPECT_EQ(read_file_bytes(dir.file("flash.dat")), odd);
}

TEST_F(WindowTest, PaintCopiesTheFramebufferAndSavedPicturesDecodeBack)
{
    TFormEmul form;
    form.TimerStart->stop();
    for (int i = 0; i < LCD_PIXELS; ++i) framebuffer[i] = static_cast<u16>(i * 40503u);
    screen_dirty = 1;
    form.FormPaint();
    EXPECT_EQ(screen_dirty, 0);
    for (int y = 0; y < LCD_HEIGHT; ++y)
        ASSERT_EQ(std::memcmp(form.ImageScr->bitmap.constScanLine(y), framebuffer + y * LCD_WIDTH, 640), 0);

    QString err;
    ASSERT_TRUE(form.SavePicture(QString::fromStdString(dir.file("a.png")), 1, &err)) << err.toStdString();
    ASSERT_TRUE(form.SavePicture(QString::fromStdString(dir.file("b.bmp")), 2, &err)) << err.toStdString();
    // Any filter index other than 2 writes PNG, whatever the name says.
    ASSERT_TRUE(form.SavePicture(QString::fromStdString(dir.file("c.bmp")), 3, &err));
    EXPECT_EQ(read_file_bytes(dir.file("c.bmp"))[1], 'P');

    const std::vector<u16> expected(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_EQ(load_screenshot(dir.file("a.png")), expected);
    // The BMP decodes (by Qt's own reader) to the same 5-6-5 pixels.
    QImage bmp(QString::fromStdString(dir.file("b.bmp")));
    ASSERT_FALSE(bmp.isNull());
    ASSERT_EQ(bmp.size(), QSize(320, 240));
    bmp = bmp.convertToFormat(QImage::Format_RGB16);
    for (int y = 0; y < LCD_HEIGHT; ++y)
        ASSERT_EQ(std::memcmp(bmp.constScanLine(y), framebuffer + y * LCD_WIDTH, 640), 0) << "row " << y;

    // After power-off the picture is no longer updated.
    power_off_flag = 1;
    framebuffer[0] = static_cast<u16>(~framebuffer[0]);
    form.FormPaint();
    EXPECT_NE(reinterpret_cast<const u16*>(form.ImageScr->bitmap.constScanLine(0))[0], framebuffer[0]);
}

// Answers the save dialog once it is open: chooses the filter with the
// keyboard, types a name (nullptr: takes the proposed one) and accepts.
// Reports the folder and the name the dialog proposed, and whether the
// dialog took the answer.
struct DialogAnswer {
    int filter;  // 1 PNG, 2 BMP
    const char* typed;
    QString folder;
    QString proposed;
    bool answered = false;
};

void answer_save_dialog(DialogAnswer* a)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [a, poll] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->stop();
        poll->deleteLater();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        if (!name || !types) {
            dialog->reject();
            return;
        }
        a->folder = QFileInfo(dialog->directory().absolutePath()).canonicalFilePath();
        a->proposed = name->text();
        while (types->currentIndex() < a->filter - 1) QTest::keyClick(types, Qt::Key_Down);
        while (types->currentIndex() > a->filter - 1) QTest::keyClick(types, Qt::Key_Up);
        if (a->typed) {
            name->clear();
            QTest::keyClicks(name, QString::fromUtf8(a->typed));
        }
        QMetaObject::invokeMethod(dialog, "accept");
        // A dialog that does not take the answer is closed all the same.
        a->answered = !dialog->isVisible();
        if (!a->answered) dialog->reject();
    });
    poll->start(10);
}

TEST_F(WindowTest, SavePictureNamesTheFileAfterTheFilterOrTheTypedExtension)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    for (int i = 0; i < LCD_PIXELS; ++i) framebuffer[i] = static_cast<u16>(i * 7919u);
    form.FormPaint();
    const std::vector<u16> expected(framebuffer, framebuffer + LCD_PIXELS);

    struct Case {
        int filter;
        const char* typed;
        const char* proposed;  // the name the dialog offers
        const char* written;   // the file that appears
        bool bmp;
    };
    const std::vector<Case> cases = {
        {1, nullptr, "tarvik2-0001.png", "tarvik2-0001.png", false},
        {2, nullptr, "tarvik2-0002.png", "tarvik2-0002.bmp", true},  // the filter changes the offered name
        {2, "plain", "tarvik2-0003.bmp", "plain.bmp", true},
        {2, "Upper.PNG", "tarvik2-0003.bmp", "Upper.PNG", false},
        {1, "switched", "tarvik2-0003.bmp", "switched.png", false},  // filter changed, then typed
        {1, "lower.bmp", "tarvik2-0003.png", "lower.bmp", true},
        {1, "photo.jpg", "tarvik2-0003.png", "photo.jpg.png", false},
    };
    const QString folder = QFileInfo(QString::fromStdString(dir.path())).canonicalFilePath();
    for (const auto& c : cases) {
        const std::string what = std::string(c.typed ? c.typed : "(proposed)") + " filter " + std::to_string(c.filter);
        const auto before = std::distance(std::filesystem::directory_iterator(dir.path()), {});
        DialogAnswer answer{c.filter, c.typed, {}, {}};
        answer_save_dialog(&answer);
        form.SpeedButtonSavePicClick();
        ASSERT_TRUE(answer.answered) << what;
        EXPECT_EQ(answer.folder, folder) << what;
        EXPECT_EQ(answer.proposed.toStdString(), c.proposed) << what;
        // Exactly one new file, under the expected name, in the expected format.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), before + 1) << what;
        const auto file = read_file_bytes(dir.file(c.written));
        ASSERT_GE(file.size(), 2u) << what;
        if (c.bmp) {
            EXPECT_EQ(load_bmp565(dir.file(c.written)), expected) << what;
        } else {
            EXPECT_EQ(load_screenshot(dir.file(c.written)), expected) << what;
        }
    }
}

TEST_F(WindowTest, TimersTickAndPowerButtonEndsTheRun)
{
    routine_started = false;
    routine_returned = false;
    emu_set_main(test_routine);
    TFormEmul form;
    form.show();
    const u32 ticks = tick_counter;
    // Press ON/OFF once the 31 ms timer has ticked a few times inside the run.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (routine_started && tick_counter - ticks >= 5 && screen_dirty == 0) {
            poll.stop();
            QTest::mouseClick(form.ButtonPower, Qt::LeftButton);
        }
    });
    poll.start(10);
    ASSERT_TRUE(process_events_until([&] { return form.runFinished(); }, 20000));
    EXPECT_TRUE(routine_returned);
    EXPECT_GE(tick_counter - ticks, 5u);  // the 31 ms timer ran inside the run
    EXPECT_EQ(flash_handle, 0);
    EXPECT_FALSE(form.isVisible());
    // What the routine drew reached the window's bitmap through the redraw timer.
    EXPECT_EQ(reinterpret_cast<const u16*>(form.ImageScr->bitmap.constScanLine(20))[20], COLOR_WHITE);
}

}  // namespace
