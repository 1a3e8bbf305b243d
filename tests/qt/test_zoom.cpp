// Zoom of the LCD: the geometry of each zoom, crisp drawing of the picture
// at any size, and the window following the View menu's hotkeys.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QScreen>
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

}  // namespace
