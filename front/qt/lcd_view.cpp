#include "lcd_view.h"

#include <algorithm>
#include <vector>

#include "front/common/picture.h"
#include "gfx/framebuffer.h"

namespace {

constexpr int CHANNELS = 3;

// One source pixel's share of one output pixel.
struct Tap {
    int source;
    u32 weight;
};

// For each output pixel of a line `out` pixels long, the source pixels of a
// line `in` pixels long it covers, with weights in units where the whole
// output pixel is `in` (output pixel x spans [x * in, (x + 1) * in), source
// pixel i spans [i * out, (i + 1) * out)).
std::vector<std::vector<Tap>> taps(int in, int out, int from, int to)
{
    std::vector<std::vector<Tap>> t(static_cast<size_t>(to - from));
    for (int x = from; x < to; ++x) {
        const i64 a = static_cast<i64>(x) * in, b = a + in;
        for (i64 i = a / out; i * out < b && i < in; ++i) {
            const i64 lo = std::max(a, i * out), hi = std::min(b, (i + 1) * out);
            if (hi > lo) t[static_cast<size_t>(x - from)].push_back({static_cast<int>(i), static_cast<u32>(hi - lo)});
        }
    }
    return t;
}

// The output pixels [first, last) of a line `out` long that source pixels
// [lo, hi) of a line `in` long reach.
void reach(int in, int out, int lo, int hi, int* first, int* last)
{
    *first = static_cast<int>(static_cast<i64>(lo) * out / in);
    *last = static_cast<int>((static_cast<i64>(hi) * out + in - 1) / in);
    *first = std::clamp(*first, 0, out);
    *last = std::clamp(*last, *first, out);
}

}  // namespace

QSize fit_minimum()
{
    return {LAYOUT_WIDTH, KEYPAD_HEIGHT + LCD_HEIGHT};
}

ZoomGeometry zoom_geometry(ZoomMode mode, QSize fit_client)
{
    ZoomGeometry g{};
    if (mode >= ZOOM_1 && mode <= ZOOM_4) {
        const int w = LCD_WIDTH * mode, h = LCD_HEIGHT * mode;
        const int client_w = std::max(LAYOUT_WIDTH, w);
        g.client = {client_w, h + KEYPAD_HEIGHT};
        g.image = {0, 0, client_w, h};
        g.lcd = {(client_w - w) / 2, 0, w, h};
        g.keypad = {(client_w - LAYOUT_WIDTH) / 2, h};
        g.resizable = false;
        return g;
    }
    if (mode == ZOOM_FIT) {
        const QSize c = fit_client.expandedTo(fit_minimum());
        const int area_w = c.width(), area_h = c.height() - KEYPAD_HEIGHT;
        // The largest 4:3 picture in the area, centred.
        int w, h;
        if (static_cast<i64>(area_w) * LCD_HEIGHT <= static_cast<i64>(area_h) * LCD_WIDTH) {
            w = area_w;
            h = static_cast<int>(static_cast<i64>(area_w) * LCD_HEIGHT / LCD_WIDTH);
        } else {
            h = area_h;
            w = static_cast<int>(static_cast<i64>(area_h) * LCD_WIDTH / LCD_HEIGHT);
        }
        g.client = c;
        g.image = {0, 0, area_w, area_h};
        g.lcd = {(area_w - w) / 2, (area_h - h) / 2, w, h};
        g.keypad = {(c.width() - LAYOUT_WIDTH) / 2, area_h};
        g.resizable = true;
        return g;
    }
    g.client = {LAYOUT_WIDTH, LAYOUT_HEIGHT};
    g.image = {0, 0, LAYOUT_WIDTH, LAYOUT_IMAGE_HEIGHT};
    g.lcd = g.image;
    g.keypad = {0, LAYOUT_IMAGE_HEIGHT};
    g.resizable = false;
    return g;
}

bool zoom_fits(ZoomMode mode, QSize room, QSize frame)
{
    const QSize needs = (mode == ZOOM_FIT ? fit_minimum() : zoom_geometry(mode).client) + frame;
    return needs.width() <= room.width() && needs.height() <= room.height();
}

ZoomMode zoom_on_screen(ZoomMode wanted, QSize room, QSize frame)
{
    if (wanted == ZOOM_FIT || zoom_fits(wanted, room, frame)) return wanted;
    for (int n = ZOOM_MAX_FACTOR; n >= ZOOM_1; --n)
        if (zoom_fits(static_cast<ZoomMode>(n), room, frame)) return static_cast<ZoomMode>(n);
    return ZOOM_FIT;
}

ZoomGeometry fullscreen_geometry(QSize screen, bool buttons)
{
    const int strip = buttons ? KEYPAD_HEIGHT : 0;
    const int n = std::max(1, std::min(screen.width() / LCD_WIDTH, (screen.height() - strip) / LCD_HEIGHT));
    const int w = LCD_WIDTH * n, h = LCD_HEIGHT * n;
    // The LCD and the strip below it, centred together; a screen too small
    // even for 1 x shows their top left.
    const int top = std::max(0, (screen.height() - h - strip) / 2);
    ZoomGeometry g{};
    g.client = screen;
    g.image = {0, 0, screen.width(), buttons ? top + h : screen.height()};
    g.lcd = {std::max(0, (screen.width() - w) / 2), top, w, h};
    g.keypad = {(screen.width() - LAYOUT_WIDTH) / 2, top + h};
    g.resizable = true;
    g.buttons_shown = buttons;
    return g;
}

bool zoom_parse(const QString& text, ZoomMode* mode)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("fit")) {
        *mode = ZOOM_FIT;
        return true;
    }
    if (t == QLatin1String("default")) {
        *mode = ZOOM_LAYOUT;
        return true;
    }
    bool ok = false;
    const int n = t.toInt(&ok);
    if (!ok || n < ZOOM_1 || n > ZOOM_MAX_FACTOR || t.size() != 1) return false;
    *mode = static_cast<ZoomMode>(n);
    return true;
}

QString zoom_name(ZoomMode mode)
{
    if (mode == ZOOM_FIT) return QStringLiteral("fit");
    if (mode >= ZOOM_1 && mode <= ZOOM_4) return QString::number(static_cast<int>(mode));
    return QStringLiteral("default");
}

QString zoom_title(ZoomMode mode)
{
    if (mode == ZOOM_FIT) return QStringLiteral("Fit to window");
    if (mode >= ZOOM_1 && mode <= ZOOM_4)
        return QStringLiteral("%1 × (%2 × %3)").arg(static_cast<int>(mode)).arg(LCD_WIDTH * mode).arg(LCD_HEIGHT * mode);
    return QStringLiteral("Instrument layout (%1 × %2)").arg(LAYOUT_WIDTH).arg(LAYOUT_HEIGHT);
}

namespace {

// The taps of every output pixel of a line, flattened: pixel x has the taps
// first[x] .. first[x + 1] - 1. Kept for the last sizes drawn, so that a
// repaint of a part works out nothing again.
struct LineTaps {
    int in = 0, out = 0;
    std::vector<int> first;
    std::vector<Tap> taps;
};

const LineTaps& line_taps(LineTaps& cache, int in, int out)
{
    if (cache.in == in && cache.out == out && !cache.first.empty()) return cache;
    cache.in = in;
    cache.out = out;
    cache.first.assign(1, 0);
    cache.taps.clear();
    for (const auto& pixel : taps(in, out, 0, out)) {
        cache.taps.insert(cache.taps.end(), pixel.begin(), pixel.end());
        cache.first.push_back(static_cast<int>(cache.taps.size()));
    }
    return cache;
}

}  // namespace

QRect lcd_render_into(const QImage& lcd, QImage* out, QRect changed)
{
    const int sw = lcd.width(), sh = lcd.height(), ow = out->width(), oh = out->height();
    changed &= QRect(0, 0, sw, sh);
    if (changed.isEmpty() || ow <= 0 || oh <= 0) return {};
    int x0, x1, y0, y1;
    reach(sw, ow, changed.left(), changed.right() + 1, &x0, &x1);
    reach(sh, oh, changed.top(), changed.bottom() + 1, &y0, &y1);
    static LineTaps x_cache, y_cache;
    const LineTaps& xt = line_taps(x_cache, sw, ow);
    const LineTaps& yt = line_taps(y_cache, sh, oh);
    const u32 total = static_cast<u32>(sw) * static_cast<u32>(sh);
    // The source rows these output rows read, widened to 8-bit channels and
    // summed across each output column (weights add up to sw). Each source
    // pixel is widened once.
    const int row_lo = yt.taps[static_cast<size_t>(yt.first[y0])].source;
    const int row_hi = yt.taps[static_cast<size_t>(yt.first[y1] - 1)].source + 1;
    const int col_lo = xt.taps[static_cast<size_t>(xt.first[x0])].source;
    const int col_hi = xt.taps[static_cast<size_t>(xt.first[x1] - 1)].source + 1;
    const size_t cols = static_cast<size_t>(x1 - x0);
    static std::vector<u32> across;
    static std::vector<u8> widened;
    across.resize(static_cast<size_t>(row_hi - row_lo) * cols * CHANNELS);
    widened.resize(static_cast<size_t>(col_hi - col_lo) * CHANNELS);
    for (int r = row_lo; r < row_hi; ++r) {
        const u16* src = reinterpret_cast<const u16*>(lcd.constScanLine(r));
        for (int i = col_lo; i < col_hi; ++i)
            rgb565_to_rgb888(src[i], &widened[static_cast<size_t>(i - col_lo) * CHANNELS]);
        u32* dst = across.data() + static_cast<size_t>(r - row_lo) * cols * CHANNELS;
        for (size_t x = 0; x < cols; ++x) {
            u32 sum[CHANNELS] = {0, 0, 0};
            const int ox = x0 + static_cast<int>(x);
            for (int k = xt.first[static_cast<size_t>(ox)]; k < xt.first[static_cast<size_t>(ox) + 1]; ++k) {
                const Tap& t = xt.taps[static_cast<size_t>(k)];
                const u8* rgb = &widened[static_cast<size_t>(t.source - col_lo) * CHANNELS];
                for (int c = 0; c < CHANNELS; ++c) sum[c] += t.weight * rgb[c];
            }
            for (int c = 0; c < CHANNELS; ++c) dst[x * CHANNELS + c] = sum[c];
        }
    }
    // Rounded to the nearest level; the LCD's own size divides by a constant
    // (a multiplication), other sizes in general.
    const auto level = [total](u32 sum) {
        constexpr u32 LCD_TOTAL = static_cast<u32>(LCD_WIDTH) * LCD_HEIGHT;
        return static_cast<int>(total == LCD_TOTAL ? (sum + LCD_TOTAL / 2) / LCD_TOTAL : (sum + total / 2) / total);
    };
    for (int y = y0; y < y1; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out->scanLine(y));
        const Tap* ty = yt.taps.data() + yt.first[static_cast<size_t>(y)];
        const Tap* ty_end = yt.taps.data() + yt.first[static_cast<size_t>(y) + 1];
        for (size_t x = 0; x < cols; ++x) {
            u32 sum[CHANNELS] = {0, 0, 0};
            for (const Tap* t = ty; t != ty_end; ++t) {
                const u32* a = across.data() + (static_cast<size_t>(t->source - row_lo) * cols + x) * CHANNELS;
                for (int c = 0; c < CHANNELS; ++c) sum[c] += t->weight * a[c];
            }
            line[x0 + static_cast<int>(x)] = qRgb(level(sum[0]), level(sum[1]), level(sum[2]));
        }
    }
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

QImage lcd_render(const QImage& lcd, QSize size)
{
    QImage out(size, QImage::Format_RGB32);
    lcd_render_into(lcd, &out, lcd.rect());
    return out;
}
