// Zoom of the LCD: the geometry of each zoom, crisp drawing of the picture
// at any size, and the window following the View menu's hotkeys.
#include <gtest/gtest.h>

#include <cstring>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include "front/common/picture.h"
#include "front/qt/lcd_view.h"
#include "front/qt/window.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "tests/qt/qt_support.h"
#include "tests/support/support.h"

namespace {

QImage random_lcd(u32 seed)
{
    QImage img(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16);
    u32 s = seed;
    for (int y = 0; y < LCD_HEIGHT; ++y) {
        auto* row = reinterpret_cast<u16*>(img.scanLine(y));
        for (int x = 0; x < LCD_WIDTH; ++x) {
            s = s * 1103515245u + 12345u;
            row[x] = static_cast<u16>(s >> 16);
        }
    }
    return img;
}

QRgb widened(u16 c)
{
    u8 rgb[3];
    rgb565_to_rgb888(c, rgb);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

u16 lcd_at(const QImage& lcd, int x, int y)
{
    return reinterpret_cast<const u16*>(lcd.constScanLine(y))[x];
}

// True when every LCD pixel is an exact n x n block of its colour.
bool blocks_of(const QImage& out, const QImage& lcd, int n)
{
    if (out.size() != QSize(LCD_WIDTH * n, LCD_HEIGHT * n)) return false;
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if ((out.pixel(x, y) & 0xFFFFFF) != (widened(lcd_at(lcd, x / n, y / n)) & 0xFFFFFF)) return false;
    return true;
}

TEST(ZoomGeometry, WholeNumberZoomsCentreTheLcdAboveTheButtons)
{
    for (int n = ZOOM_1; n <= ZOOM_4; ++n) {
        const ZoomGeometry g = zoom_geometry(static_cast<ZoomMode>(n));
        const int w = 320 * n, h = 240 * n, client_w = std::max(788, w);
        EXPECT_EQ(g.client, QSize(client_w, h + 175)) << n;
        EXPECT_EQ(g.image, QRect(0, 0, client_w, h)) << n;
        EXPECT_EQ(g.lcd, QRect((client_w - w) / 2, 0, w, h)) << n;
        EXPECT_EQ(g.keypad, QPoint((client_w - 788) / 2, h)) << n;
        EXPECT_FALSE(g.resizable);
    }
    const ZoomGeometry layout = zoom_geometry(ZOOM_LAYOUT);
    EXPECT_EQ(layout.client, QSize(788, 766));
    EXPECT_EQ(layout.image, QRect(0, 0, 788, 591));
    EXPECT_EQ(layout.lcd, QRect(0, 0, 788, 591));
    EXPECT_EQ(layout.keypad, QPoint(0, 591));
}

TEST(ZoomGeometry, FitTakesTheLargestCentredLcdTheWindowHolds)
{
    struct Case {
        QSize client;
        QRect lcd;
    };
    const std::vector<Case> cases = {
        {{788, 766}, {0, 0, 788, 591}},       // the instrument's own proportions
        {{1366, 700}, {333, 0, 700, 525}},    // wide: the height decides
        {{1000, 1200}, {0, 137, 1000, 750}},  // tall: the width decides
        {{100, 100}, {234, 0, 320, 240}},     // never below the smallest window
    };
    for (const auto& c : cases) {
        const ZoomGeometry g = zoom_geometry(ZOOM_FIT, c.client);
        EXPECT_EQ(g.lcd, c.lcd) << c.client.width() << "x" << c.client.height();
        EXPECT_TRUE(g.resizable);
        EXPECT_EQ(g.client, c.client.expandedTo(fit_minimum()));
        EXPECT_EQ(g.keypad.y(), g.client.height() - 175);
    }
    // Across many sizes: inside the image, centred, 4:3, touching two sides.
    for (int w = 788; w <= 1600; w += 37)
        for (int h = 415; h <= 1300; h += 41) {
            const ZoomGeometry g = zoom_geometry(ZOOM_FIT, {w, h});
            ASSERT_TRUE(g.image.contains(g.lcd)) << w << "x" << h;
            ASSERT_LE(std::abs((g.lcd.left() - g.image.left()) - (g.image.right() - g.lcd.right())), 1);
            ASSERT_LE(std::abs((g.lcd.top() - g.image.top()) - (g.image.bottom() - g.lcd.bottom())), 1);
            ASSERT_LE(std::abs(g.lcd.width() * 3 - g.lcd.height() * 4), 4) << w << "x" << h;
            ASSERT_TRUE(g.lcd.width() == g.image.width() || g.lcd.height() == g.image.height()) << w << "x" << h;
        }
}

TEST(ZoomGeometry, AZoomTheScreenCannotHoldGivesWayToTheLargestThatFits)
{
    // The work area of the screen and the window frame around the client
    // area; what each zoom asked for shows.
    const QSize frame(0, 40);
    struct Case {
        QSize room;
        ZoomMode layout, z1, z2, z3, z4;
    };
    const std::vector<Case> cases = {
        // a 1366 x 768 laptop with a panel: 2 x is the largest that fits,
        // and the instrument's 788 x 766 form does not fit either
        {{1366, 740}, ZOOM_2, ZOOM_1, ZOOM_2, ZOOM_2, ZOOM_2},
        {{1366, 768}, ZOOM_2, ZOOM_1, ZOOM_2, ZOOM_2, ZOOM_2},
        {{1024, 738}, ZOOM_2, ZOOM_1, ZOOM_2, ZOOM_2, ZOOM_2},
        {{1920, 1040}, ZOOM_LAYOUT, ZOOM_1, ZOOM_2, ZOOM_3, ZOOM_3},
        {{1920, 1200}, ZOOM_LAYOUT, ZOOM_1, ZOOM_2, ZOOM_3, ZOOM_4},
        {{2560, 1400}, ZOOM_LAYOUT, ZOOM_1, ZOOM_2, ZOOM_3, ZOOM_4},
        {{800, 570}, ZOOM_1, ZOOM_1, ZOOM_1, ZOOM_1, ZOOM_1},
        // not even 1 x with the buttons: the window fits itself to the room
        {{640, 450}, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT},
        // the edges: 2 x needs 788 x 655 and the frame
        {{788, 695}, ZOOM_2, ZOOM_1, ZOOM_2, ZOOM_2, ZOOM_2},
        {{788, 694}, ZOOM_1, ZOOM_1, ZOOM_1, ZOOM_1, ZOOM_1},
        {{787, 2000}, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT, ZOOM_FIT},
    };
    for (const auto& c : cases) {
        const std::string at = std::to_string(c.room.width()) + "x" + std::to_string(c.room.height());
        EXPECT_EQ(zoom_on_screen(ZOOM_LAYOUT, c.room, frame), c.layout) << at;
        EXPECT_EQ(zoom_on_screen(ZOOM_1, c.room, frame), c.z1) << at;
        EXPECT_EQ(zoom_on_screen(ZOOM_2, c.room, frame), c.z2) << at;
        EXPECT_EQ(zoom_on_screen(ZOOM_3, c.room, frame), c.z3) << at;
        EXPECT_EQ(zoom_on_screen(ZOOM_4, c.room, frame), c.z4) << at;
        EXPECT_EQ(zoom_on_screen(ZOOM_FIT, c.room, frame), ZOOM_FIT) << at;
        // What it gives fits, or nothing whole-numbered does.
        for (ZoomMode m : {ZOOM_LAYOUT, ZOOM_1, ZOOM_2, ZOOM_3, ZOOM_4}) {
            const ZoomMode shown = zoom_on_screen(m, c.room, frame);
            EXPECT_EQ(zoom_fits(m, c.room, frame), shown == m) << at << " zoom " << m;
            if (shown != ZOOM_FIT) {
                const QSize window = zoom_geometry(shown).client + frame;
                EXPECT_TRUE(window.width() <= c.room.width() && window.height() <= c.room.height()) << at;
            }
        }
    }
    // The frame counts too.
    EXPECT_TRUE(zoom_fits(ZOOM_3, {960, 895}, {0, 0}));
    EXPECT_FALSE(zoom_fits(ZOOM_3, {960, 895}, {2, 0}));
}

TEST(ZoomGeometry, FullScreenTakesTheLargestWholeNumberSizeCentred)
{
    struct Case {
        QSize screen;
        bool buttons;
        int factor;
        QPoint lcd;     // top left of the LCD
        QPoint keypad;  // top left of the strip (when shown)
    };
    const std::vector<Case> cases = {
        {{1366, 768}, true, 2, {363, 56}, {289, 536}},
        {{1366, 768}, false, 3, {203, 24}, {}},
        {{1920, 1080}, true, 3, {480, 92}, {566, 812}},
        {{1920, 1080}, false, 4, {320, 60}, {}},
        {{1920, 1200}, true, 4, {320, 32}, {566, 992}},
        {{3840, 2160}, false, 9, {480, 0}, {}},
        {{1024, 768}, false, 3, {32, 24}, {}},
        {{1280, 1024}, true, 3, {160, 64}, {246, 784}},
        // too small for 1 x and the buttons: the top left shows
        {{640, 400}, true, 1, {160, 0}, {-74, 240}},
    };
    for (const auto& c : cases) {
        const std::string at = std::to_string(c.screen.width()) + "x" + std::to_string(c.screen.height()) +
                               (c.buttons ? " with buttons" : "");
        const ZoomGeometry g = fullscreen_geometry(c.screen, c.buttons);
        EXPECT_EQ(g.client, c.screen) << at;
        EXPECT_EQ(g.lcd, QRect(c.lcd, QSize(320 * c.factor, 240 * c.factor))) << at;
        EXPECT_EQ(g.buttons_shown, c.buttons) << at;
        EXPECT_TRUE(g.image.contains(g.lcd) || c.factor == 1) << at;
        if (c.buttons) {
            EXPECT_EQ(g.keypad, c.keypad) << at;
            EXPECT_EQ(g.image.height(), c.keypad.y()) << at;
        } else {
            EXPECT_EQ(g.image, QRect(QPoint(0, 0), c.screen)) << at;
        }
        // One size more would not fit.
        const int strip = c.buttons ? 175 : 0;
        EXPECT_TRUE(320 * (c.factor + 1) > c.screen.width() || 240 * (c.factor + 1) + strip > c.screen.height()) << at;
    }
}

TEST(ZoomGeometry, NamesReadBack)
{
    struct Case {
        const char* text;
        bool ok;
        ZoomMode mode;
    };
    const std::vector<Case> cases = {
        {"1", true, ZOOM_1},
        {"4", true, ZOOM_4},
        {"fit", true, ZOOM_FIT},
        {" FIT ", true, ZOOM_FIT},
        {"default", true, ZOOM_LAYOUT},
        {"0", false, {}},
        {"5", false, {}},
        {"2x", false, {}},
        {"", false, {}},
        {"1.5", false, {}},
        {"+2", false, {}},
    };
    for (const auto& c : cases) {
        ZoomMode m = ZOOM_LAYOUT;
        EXPECT_EQ(zoom_parse(QString::fromLatin1(c.text), &m), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(m, c.mode) << c.text;
        }
    }
    for (ZoomMode m : {ZOOM_LAYOUT, ZOOM_1, ZOOM_2, ZOOM_3, ZOOM_4, ZOOM_FIT}) {
        ZoomMode back = ZOOM_LAYOUT;
        EXPECT_TRUE(zoom_parse(zoom_name(m), &back));
        EXPECT_EQ(back, m);
    }
}

TEST(LcdRender, WholeNumberSizesGiveExactBlocks)
{
    const QImage lcd = random_lcd(7);
    for (int n = 1; n <= ZOOM_MAX_FACTOR; ++n)
        EXPECT_TRUE(blocks_of(lcd_render(lcd, QSize(LCD_WIDTH * n, LCD_HEIGHT * n)), lcd, n)) << n;
}

TEST(LcdRender, TheInstrumentsScaleKeepsPixelsFlatAndOnlyBlendsTheSeams)
{
    // A checkerboard of black and white: any smoothing across pixels shows.
    QImage lcd(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16);
    for (int y = 0; y < LCD_HEIGHT; ++y)
        for (int x = 0; x < LCD_WIDTH; ++x)
            reinterpret_cast<u16*>(lcd.scanLine(y))[x] = (x + y) % 2 ? COLOR_WHITE : COLOR_BLACK;
    const QSize size(788, 591);
    const QImage out = lcd_render(lcd, size);
    ASSERT_EQ(out.size(), size);
    int pure = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            // The LCD pixels under this window pixel.
            const int sx0 = x * LCD_WIDTH / size.width(), sx1 = ((x + 1) * LCD_WIDTH - 1) / size.width();
            const int sy0 = y * LCD_HEIGHT / size.height(), sy1 = ((y + 1) * LCD_HEIGHT - 1) / size.height();
            const QRgb px = out.pixel(x, y);
            if (sx0 == sx1 && sy0 == sy1) {
                // Wholly inside one LCD pixel: exactly its colour.
                ASSERT_EQ(px & 0xFFFFFF, widened(lcd_at(lcd, sx0, sy0)) & 0xFFFFFF) << x << "," << y;
                ++pure;
            }
            ASSERT_EQ(qRed(px), qGreen(px));  // greys only: no colour fringes
        }
    // Every LCD pixel keeps at least one window pixel of its own colour.
    EXPECT_GE(pure, LCD_PIXELS);
}

TEST(LcdRender, RedrawingAChangedPartGivesTheSameAsRedrawingAll)
{
    QImage lcd = random_lcd(11);
    for (const QSize size : {QSize(788, 591), QSize(640, 480), QSize(1000, 750), QSize(333, 250)}) {
        QImage out = lcd_render(lcd, size);
        QImage changed = lcd;
        for (int y = 100; y < 113; ++y)
            for (int x = 41; x < 47; ++x) reinterpret_cast<u16*>(changed.scanLine(y))[x] ^= 0x5A5A;
        const QRect area = lcd_render_into(changed, &out, QRect(41, 100, 6, 13));
        EXPECT_FALSE(area.isEmpty());
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(area));
        EXPECT_EQ(out, lcd_render(changed, size)) << size.width() << "x" << size.height();
    }
}

// The drawing pinned bit for bit at the layout's zoom, whole-number and odd
// sizes, whole and in parts: a digest (64-bit FNV-1a) of the RGB of every
// window pixel, taken from the drawing when it was pinned, so that a faster
// drawing gives the same picture.
TEST(LcdRender, PicturesStayBitIdentical)
{
    struct Case {
        QSize size;
        u64 digest;
    };
    const Case cases[] = {
        {QSize(788, 591), 0x848008bc0f4daf12},  {QSize(640, 480), 0x90de1cf006596ac5},
        {QSize(1000, 750), 0x7b7b1cc13889e13a}, {QSize(333, 250), 0x4d79de6eb7c0c0ff},
        {QSize(1366, 700), 0xc7a934deaa2b51f6},
    };
    for (const Case& c : cases) {
        const QImage lcd = random_lcd(5);
        QImage out = lcd_render(lcd, c.size);
        // A part drawn again over a picture of another LCD.
        QImage other = random_lcd(6);
        QImage mixed = lcd_render(other, c.size);
        lcd_render_into(lcd, &mixed, QRect(17, 33, 201, 150));
        u64 h = 0xcbf29ce484222325ull;
        for (const QImage* img : {&out, &mixed})
            for (int y = 0; y < img->height(); ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(img->constScanLine(y));
                for (int x = 0; x < img->width(); ++x) {
                    const u32 rgb = line[x] & 0xFFFFFFu;
                    for (int b = 0; b < 3; ++b) {
                        h ^= (rgb >> (8 * b)) & 0xFF;
                        h *= 0x100000001b3ull;
                    }
                }
            }
        EXPECT_EQ(h, c.digest) << c.size.width() << "x" << c.size.height() << std::hex << " 0x" << h;
    }
}

class ZoomWindow : public WindowFixture {
protected:
    // The picture on the screen: a pattern the tests can recognise.
    static void paint_pattern(TFormEmul& form)
    {
        for (int i = 0; i < LCD_PIXELS; ++i) framebuffer[i] = static_cast<u16>(i * 2654435761u >> 13);
        screen_dirty = 1;
        form.FormPaint();
    }
};

TEST_F(ZoomWindow, HotkeysSetEachZoomAndTheButtonsFollowTheLcd)
{
    TFormEmul form;
    form.TimerStart->stop();
    paint_pattern(form);
    ASSERT_TRUE(show_active(&form));
    const struct {
        int key;
        ZoomMode mode;
    } steps[] = {{Qt::Key_1, ZOOM_1}, {Qt::Key_2, ZOOM_2}, {Qt::Key_3, ZOOM_3}, {Qt::Key_4, ZOOM_4}};
    for (const auto& s : steps) {
        QTest::keyClick(&form, static_cast<Qt::Key>(s.key), Qt::ControlModifier);
        ASSERT_EQ(form.zoom(), s.mode);
        const ZoomGeometry g = zoom_geometry(s.mode);
        EXPECT_EQ(form.size(), g.client) << s.mode;
        EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
        EXPECT_EQ(form.ImageScr->geometry(), g.image);
        EXPECT_EQ(form.ImageScr->lcdRect(), g.lcd);
        // The strip of buttons keeps its own layout, moved as a whole.
        const QPoint shift(g.keypad.x(), g.keypad.y() - 591);
        EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40).translated(shift));
        EXPECT_EQ(form.ButtonEnter->geometry(), QRect(86, 610, 100, 40).translated(shift));
        EXPECT_EQ(form.ButtonDown->geometry(), QRect(341, 688, 100, 40).translated(shift));
        // What the window shows: each LCD pixel an n x n block.
        const QImage shown = form.ImageScr->grab(g.lcd).toImage();
        EXPECT_TRUE(blocks_of(shown, form.ImageScr->bitmap, s.mode)) << s.mode;
        // No key reached the instrument.
        EXPECT_EQ(pending_key, KEY_NONE);
    }
    // The instrument's layout again, from the View menu.
    form.action("zoom-default")->trigger();
    EXPECT_EQ(form.size(), QSize(788, 766));
    EXPECT_EQ(form.ImageScr->geometry(), QRect(0, 0, 788, 591));
    EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40));
    EXPECT_TRUE(form.action("zoom-default")->isChecked());
    EXPECT_FALSE(form.action("zoom-4")->isChecked());
}

TEST_F(ZoomWindow, PaintingRedrawsOnlyThePartThatChanged)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.setZoom(ZOOM_2, false);
    paint_pattern(form);
    ASSERT_TRUE(show_active(&form));
    const QImage before = form.ImageScr->shown().copy();
    fill_rect(10, 20, 21, 27, COLOR_MAGENTA);  // 12 x 8 pixels
    screen_dirty = 1;
    form.FormPaint();
    const QImage after = form.ImageScr->shown();
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x) {
            const bool inside = x >= 20 && x < 44 && y >= 40 && y < 56;
            if (inside)
                ASSERT_EQ(after.pixel(x, y) & 0xFFFFFF, widened(COLOR_MAGENTA) & 0xFFFFFF) << x << "," << y;
            else
                ASSERT_EQ(after.pixel(x, y), before.pixel(x, y)) << x << "," << y;
        }
}

TEST_F(ZoomWindow, FitIsResizableStaysOnTheScreenAndFollowsTheSize)
{
    TFormEmul form;
    form.TimerStart->stop();
    paint_pattern(form);
    ASSERT_TRUE(show_active(&form));
    QTest::keyClick(&form, Qt::Key_0, Qt::ControlModifier);
    ASSERT_EQ(form.zoom(), ZOOM_FIT);
    EXPECT_EQ(form.minimumSize(), fit_minimum());
    EXPECT_GT(form.maximumSize().height(), 5000);
    // The screen's room decides the height (the offscreen screen is small).
    const QRect avail = form.screen()->availableGeometry();
    EXPECT_LE(form.height(), avail.height());
    EXPECT_LE(form.width(), avail.width());
    for (const QSize size : {QSize(1000, 900), QSize(800, 500)}) {
        form.resize(size);
        QApplication::processEvents();
        const ZoomGeometry g = zoom_geometry(ZOOM_FIT, form.size());
        EXPECT_EQ(form.ImageScr->lcdRect(), g.lcd) << size.width();
        EXPECT_EQ(form.ImageScr->shown().size(), g.lcd.size());
        EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40).translated(g.keypad.x(), g.keypad.y() - 591));
    }
}

TEST_F(ZoomWindow, TheZoomAndThePlaceAreRememberedForTheNextStart)
{
    {
        TFormEmul form;
        form.TimerStart->stop();
        ASSERT_TRUE(show_active(&form));
        QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
        form.move(40, 30);
        form.close();
    }
    {
        TFormEmul form;
        form.TimerStart->stop();
        EXPECT_EQ(form.zoom(), ZOOM_3);
        EXPECT_EQ(form.size(), zoom_geometry(ZOOM_3).client);
        EXPECT_EQ(form.pos(), QPoint(40, 30));
        // A zoom for one start only (as --scale gives) is not kept.
        form.setZoom(ZOOM_1, false);
        form.close();
    }
    TFormEmul form;
    form.TimerStart->stop();
    EXPECT_EQ(form.zoom(), ZOOM_3);
}

QScreen* screen_named(const char* name)
{
    for (QScreen* sc : QGuiApplication::screens())
        if (sc->name() == QLatin1String(name)) return sc;
    return nullptr;
}

// The window's settings as a start finds them.
void remember(const QString& key, const QVariant& value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarvik2"), QStringLiteral("tarvik2-emu"));
    s.setValue(key, value);
    s.sync();
}

QVariant remembered(const QString& key)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarvik2"), QStringLiteral("tarvik2-emu"));
    return s.value(key);
}

TEST_F(ZoomWindow, F11TogglesFullScreenWithTheLcdCrispAndTheKeysStillWork)
{
    QScreen* desktop = screen_named("desktop");
    ASSERT_NE(desktop, nullptr) << "the test screens are missing";
    TFormEmul form;
    form.TimerStart->stop();
    paint_pattern(form);
    ASSERT_TRUE(show_active(&form));
    form.move(100, 50);
    const QPoint normal_pos = form.pos();
    QTest::keyClick(&form, Qt::Key_F11);
    ASSERT_TRUE(process_events_until([&] { return form.size() == desktop->geometry().size(); }, 5000));
    EXPECT_TRUE(form.isFullScreen());
    EXPECT_TRUE(form.action("fullscreen")->isChecked());
    EXPECT_EQ(remembered(QStringLiteral("view/fullscreen")).toBool(), true);
    // 1920 x 1200, the keypad hidden: 5 x, whole pixels, in the middle.
    EXPECT_FALSE(form.fullScreenButtons());
    EXPECT_EQ(form.ImageScr->lcdRect(), QRect(160, 0, 1600, 1200));
    EXPECT_TRUE(blocks_of(form.ImageScr->grab(form.ImageScr->lcdRect()).toImage(), form.ImageScr->bitmap, 5));
    EXPECT_FALSE(form.ButtonPower->isVisible());
    EXPECT_FALSE(form.ButtonView->isVisible());
    EXPECT_FALSE(form.Button15->isVisible());

    // With the keypad below: 4 x.
    form.action("fullscreen-keypad")->trigger();
    EXPECT_TRUE(form.fullScreenButtons());
    const ZoomGeometry g = fullscreen_geometry(desktop->geometry().size(), true);
    EXPECT_EQ(g.lcd.size(), QSize(1280, 960));
    EXPECT_EQ(form.ImageScr->lcdRect(), g.lcd.translated(-g.image.topLeft()));
    EXPECT_TRUE(blocks_of(form.ImageScr->grab(form.ImageScr->lcdRect()).toImage(), form.ImageScr->bitmap, 4));
    EXPECT_TRUE(form.ButtonPower->isVisible());
    EXPECT_TRUE(form.ButtonView->isVisible());
    EXPECT_FALSE(form.Button15->isVisible());
    EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40).translated(g.keypad.x(), g.keypad.y() - 591));

    // The instrument's keys reach it; Esc is one of them, so it stays.
    for (const auto& [key, code] : {std::pair{Qt::Key_Up, KEY_UP}, {Qt::Key_Return, KEY_ENTER}, {Qt::Key_Escape, KEY_ESC}}) {
        pending_key = KEY_NONE;
        QTest::keyClick(&form, key);
        EXPECT_EQ(pending_key, code) << key;
        EXPECT_TRUE(form.isFullScreen()) << key;
    }
    QTest::mouseClick(form.ButtonDown, Qt::LeftButton);
    EXPECT_EQ(pending_key, KEY_DOWN);
    form.action("fullscreen-keypad")->trigger();
    EXPECT_FALSE(form.ButtonPower->isVisible());
    pending_key = KEY_NONE;
    QTest::keyClick(&form, Qt::Key_Left);
    EXPECT_EQ(pending_key, KEY_LEFT);

    // F11 again: the window as it was, its keypad shown again.
    QTest::keyClick(&form, Qt::Key_F11);
    ASSERT_TRUE(process_events_until([&] { return form.size() == QSize(788, 766); }, 5000));
    EXPECT_FALSE(form.isFullScreen());
    EXPECT_FALSE(form.action("fullscreen")->isChecked());
    EXPECT_EQ(form.pos(), normal_pos);
    EXPECT_EQ(form.ImageScr->geometry(), QRect(0, 0, 788, 591));
    EXPECT_TRUE(form.ButtonPower->isVisible());
    EXPECT_TRUE(form.ButtonView->isVisible());
    EXPECT_FALSE(form.Button15->isVisible());
    EXPECT_EQ(form.ButtonPower->geometry(), QRect(594, 610, 100, 40));
    EXPECT_EQ(remembered(QStringLiteral("view/fullscreen")).toBool(), false);
    EXPECT_EQ(remembered(QStringLiteral("view/fullscreen-keypad")).toBool(), false);

    // A double click on the LCD goes in and out as well; a single one does
    // nothing.
    const QPoint on_lcd = form.ImageScr->lcdRect().center();
    QTest::mouseClick(form.ImageScr, Qt::LeftButton, {}, on_lcd);
    EXPECT_FALSE(form.isFullScreen());
    QTest::mouseDClick(form.ImageScr, Qt::LeftButton, {}, on_lcd);
    ASSERT_TRUE(process_events_until([&] { return form.size() == desktop->geometry().size(); }, 5000));
    EXPECT_TRUE(form.isFullScreen());
    QTest::mouseDClick(form.ImageScr, Qt::LeftButton, {}, form.ImageScr->lcdRect().center());
    ASSERT_TRUE(process_events_until([&] { return form.size() == QSize(788, 766); }, 5000));
    EXPECT_FALSE(form.isFullScreen());
    EXPECT_EQ(pending_key, KEY_LEFT);  // nothing for the instrument
}

TEST_F(ZoomWindow, EscLeavesFullScreenOnlyWhenTheKeyMapGivesItNoInstrumentKey)
{
    struct Case {
        const char* keymap;  // the key-map file, "" for none
        bool leaves;
        u32 posted;
    };
    const Case cases[] = {
        {"", false, KEY_ESC},
        {"Esc = none\n", true, KEY_NONE},
        {"Esc = enter\nQ = esc\n", false, KEY_ENTER},
        {"Esc = mod\n", false, KEY_MOD},
        {"Q = esc\n", false, KEY_ESC},
    };
    for (const auto& c : cases) {
        TFormEmul form;
        form.TimerStart->stop();
        if (*c.keymap) {
            write_file_bytes(dir.file("keymap.ini"), std::vector<u8>(c.keymap, c.keymap + std::strlen(c.keymap)));
            ASSERT_TRUE(form.loadKeyMap(QString::fromStdString(dir.file("keymap.ini"))).isEmpty()) << c.keymap;
        }
        EXPECT_EQ(form.escLeavesFullScreen(), c.leaves) << c.keymap;
        ASSERT_TRUE(show_active(&form));
        form.setFullScreen(true);
        ASSERT_TRUE(process_events_until([&] { return form.isFullScreen() && form.width() == 1920; }, 5000));
        pending_key = KEY_NONE;
        QTest::keyClick(&form, Qt::Key_Escape);
        EXPECT_EQ(pending_key, c.posted) << c.keymap;
        EXPECT_EQ(form.isFullScreen(), !c.leaves) << c.keymap;
        // The key help tells which way out there is.
        bool esc_listed = false;
        for (const auto& [keys, what] : form.hotkeys()) {
            if (keys == QLatin1String("Esc")) esc_listed = true;
            if (keys == QLatin1String("F11")) {
                EXPECT_EQ(what, QStringLiteral("Full screen"));
            }
        }
        EXPECT_EQ(esc_listed, c.leaves) << c.keymap;
        // F11 always leaves.
        if (form.isFullScreen()) {
            QTest::keyClick(&form, Qt::Key_F11);
            EXPECT_FALSE(form.isFullScreen()) << c.keymap;
        }
        form.close();
    }
}

TEST_F(ZoomWindow, FullScreenIsRestoredAtTheNextStart)
{
    QScreen* desktop = screen_named("desktop");
    ASSERT_NE(desktop, nullptr);
    {
        TFormEmul form;
        form.TimerStart->stop();
        ASSERT_TRUE(show_active(&form));
        form.setZoom(ZOOM_2, true);
        form.move(60, 40);
        const QPoint normal_pos = form.pos();
        form.setFullScreen(true);
        ASSERT_TRUE(process_events_until([&] { return form.size() == desktop->geometry().size(); }, 5000));
        form.close();
        // The window's own place is kept, not the full screen's.
        EXPECT_EQ(remembered(QStringLiteral("window/pos")).toPoint(), normal_pos);
    }
    TFormEmul form;
    form.TimerStart->stop();
    EXPECT_TRUE(form.isFullScreen());
    ASSERT_TRUE(show_active(&form));
    ASSERT_TRUE(process_events_until([&] { return form.size() == desktop->geometry().size(); }, 5000));
    EXPECT_EQ(form.ImageScr->lcdRect().size(), QSize(1600, 1200));
    // Leaving it gives the zoom chosen before.
    form.setFullScreen(false);
    ASSERT_TRUE(process_events_until([&] { return form.size() == zoom_geometry(ZOOM_2).client; }, 5000));
    EXPECT_EQ(form.zoom(), ZOOM_2);
    EXPECT_EQ(form.pos(), QPoint(60, 40));
    // A zoom chosen in full screen leaves it for the window at that zoom.
    form.setFullScreen(true);
    ASSERT_TRUE(process_events_until([&] { return form.size() == desktop->geometry().size(); }, 5000));
    QTest::keyClick(&form, Qt::Key_1, Qt::ControlModifier);
    ASSERT_TRUE(process_events_until([&] { return form.size() == zoom_geometry(ZOOM_1).client; }, 5000));
    EXPECT_FALSE(form.isFullScreen());
    EXPECT_EQ(form.zoom(), ZOOM_1);
}

TEST_F(ZoomWindow, OnALaptopScreenTheZoomsThatDoNotFitAreMarkedAndNeverOpenTooLarge)
{
    QScreen* laptop = screen_named("laptop");
    ASSERT_NE(laptop, nullptr) << "the test screens are missing";
    const QRect avail = laptop->availableGeometry();
    ASSERT_EQ(avail.size(), QSize(1366, 768));
    // 4 x chosen on a large screen; the window was last on the laptop.
    remember(QStringLiteral("view/zoom"), QStringLiteral("4"));
    remember(QStringLiteral("window/pos"), avail.topLeft() + QPoint(50, 0));
    TFormEmul form;
    form.TimerStart->stop();
    EXPECT_EQ(form.screen(), laptop);
    EXPECT_EQ(form.zoom(), ZOOM_2);
    EXPECT_EQ(form.size(), zoom_geometry(ZOOM_2).client);
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("too large for this screen")))
        << form.windowTitle().toStdString();
    // The choice stays for the larger screen.
    EXPECT_EQ(remembered(QStringLiteral("view/zoom")).toString(), QStringLiteral("4"));
    ASSERT_TRUE(show_active(&form));
    EXPECT_TRUE(avail.contains(form.frameGeometry())) << form.frameGeometry().height();

    // The View menu says which zooms are too large, and why.
    auto* menu = form.findChild<QMenu*>(QStringLiteral("ViewMenu"));
    ASSERT_NE(menu, nullptr);
    Q_EMIT menu->aboutToShow();
    for (const auto& [name, fits] : {std::pair{"zoom-default", false},
                                     {"zoom-1", true},
                                     {"zoom-2", true},
                                     {"zoom-3", false},
                                     {"zoom-4", false},
                                     {"zoom-fit", true}}) {
        const QAction* a = form.action(name);
        EXPECT_EQ(a->text().contains(QStringLiteral("too large")), !fits) << name;
        EXPECT_EQ(a->toolTip().contains(QStringLiteral("this screen holds 1366 × 768")), !fits)
            << name << " " << a->toolTip().toStdString();
        EXPECT_TRUE(a->isEnabled()) << name;
    }
    EXPECT_TRUE(form.action("zoom-3")->toolTip().contains(QStringLiteral("it shows 2 ×")));

    // Chosen anyway, 3 x gives the largest that fits.
    QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(form.zoom(), ZOOM_2);
    EXPECT_TRUE(form.action("zoom-2")->isChecked());
    EXPECT_TRUE(avail.contains(form.frameGeometry()));

    // Full screen on the laptop: 3 x without the keypad, 2 x with it.
    form.setFullScreen(true);
    ASSERT_TRUE(process_events_until([&] { return form.size() == QSize(1366, 768); }, 5000));
    EXPECT_EQ(form.ImageScr->lcdRect().size(), QSize(960, 720));
    form.setFullScreenButtons(true);
    EXPECT_EQ(form.ImageScr->lcdRect().size(), QSize(640, 480));
    // Back from full screen: again the largest that fits.
    form.setFullScreen(false);
    ASSERT_TRUE(process_events_until(
        [&] { return !form.isFullScreen() && form.size() == zoom_geometry(ZOOM_2).client; }, 5000));
    EXPECT_EQ(form.zoom(), ZOOM_2);
    EXPECT_TRUE(avail.contains(form.frameGeometry()));
    QTest::keyClick(&form, Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(form.zoom(), ZOOM_1);

    // On the large screen 3 x fits, and the marks go.
    form.move(100, 100);
    ASSERT_TRUE(process_events_until([&] { return form.screen() == screen_named("desktop"); }, 5000));
    QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(form.zoom(), ZOOM_3);
    Q_EMIT menu->aboutToShow();
    EXPECT_FALSE(form.action("zoom-3")->text().contains(QStringLiteral("too large")));
    EXPECT_FALSE(form.action("zoom-3")->toolTip().contains(QStringLiteral("this screen holds")));
}

}  // namespace
