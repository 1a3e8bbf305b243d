// Writes a PNG specimen of each of the eight fonts: all 256 codes on a
// 16 x 16 grid, magnified, and a line of Russian sample text.
//   font_specimen OUTDIR [SCALE]   -> OUTDIR/font1.png .. font8.png
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"

namespace {

constexpr u16 PAPER = COLOR_WHITE;
constexpr u16 INK = COLOR_BLACK;
constexpr u16 GRID = COLOR_LIGHT_GREY;
constexpr u16 LABEL = COLOR_BLUE;

struct Canvas {
    int w, h, scale;
    std::vector<u16> px;
    Canvas(int w_, int h_, int s) : w(w_ * s), h(h_ * s), scale(s), px(static_cast<size_t>(w_ * s) * h_ * s, PAPER) {}
    void dot(int x, int y, u16 c)
    {
        for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) {
                const int X = x * scale + dx, Y = y * scale + dy;
                if (X >= 0 && X < w && Y >= 0 && Y < h) px[static_cast<size_t>(Y) * w + X] = c;
            }
    }
};

// One glyph of the current font with its cell shaded.
void glyph(Canvas& c, int x, int y, u8 code, u16 ink, u16 cell)
{
    const int bpr = font_width > 8 ? 2 : 1;
    for (int r = 0; r < font_height; ++r) {
        const u16 raw = bpr == 2 ? static_cast<u16>(glyph_row(code, 2 * r) << 8 | glyph_row(code, 2 * r + 1))
                                 : static_cast<u16>(glyph_row(code, r) << 8);
        for (int col = 0; col < font_width; ++col) c.dot(x + col, y + r, (raw & (0x8000 >> col)) ? ink : cell);
    }
}

// Hex digits from font 1 for the row and column labels.
void label(Canvas& c, int x, int y, const char* s)
{
    const u8 keep = font_current;
    font_select(1);
    for (int i = 0; s[i]; ++i) glyph(c, x + i * font_width, y, static_cast<u8>(s[i]), LABEL, PAPER);
    font_select(keep);
}

bool specimen(int n, const std::string& dir, int scale)
{
    font_select(static_cast<u8>(n));
    const int cw = font_width, ch = font_height;
    const char* sample = "Съешь же ещё этих мягких французских булок, да выпей чаю. 25°C 9,8 м/сЅ"_cp;
    const int pitch_x = cw + 2, pitch_y = ch + 2, left = 12, top = 10;
    const int sample_w = static_cast<int>(std::strlen(sample)) * cw;
    const int grid_w = left + 16 * pitch_x;
    const int width = (sample_w + 4 > grid_w ? sample_w + 4 : grid_w) + 2;
    const int height = top + 16 * pitch_y + 6 + ch * 2 + 8;
    Canvas c(width, height, scale);
    char text[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text, sizeof text, "%X", i);
        label(c, left + i * pitch_x + 1, 2, text);
        std::snprintf(text, sizeof text, "%X", i);
        label(c, 2, top + i * pitch_y + 1, text);
    }
    for (int code = 0; code < 256; ++code)
        glyph(c, left + (code % 16) * pitch_x + 1, top + (code / 16) * pitch_y + 1, static_cast<u8>(code), INK, GRID);
    const int sy = top + 16 * pitch_y + 6;
    for (int i = 0; sample[i]; ++i) glyph(c, 2 + i * cw, sy, static_cast<u8>(sample[i]), INK, PAPER);
    const char* latin = "The quick brown fox jumps over the lazy dog 0123456789";
    for (int i = 0; latin[i]; ++i) glyph(c, 2 + i * cw, sy + ch + 4, static_cast<u8>(latin[i]), INK, PAPER);
    const std::string path = dir + "/font" + std::to_string(n) + ".png";
    std::string error;
    if (!picture_save(path, c.px.data(), c.w, c.h, 0, &error)) {
        std::fprintf(stderr, "font_specimen: %s\n", error.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* const usage =
        "usage: font_specimen OUTDIR [SCALE]\n"
        "Writes font1.png ... font8.png into OUTDIR: all 256 codes of each of the\n"
        "instrument's fonts, magnified SCALE times (1..16, default 3).\n";
    if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("font_specimen %s\n", TARVIK2_VERSION);
        return 0;
    }
    if (argc < 2 || argc > 3) {
        std::fputs(usage, stderr);
        return 2;
    }
    const int scale = argc == 3 ? std::atoi(argv[2]) : 3;
    if (scale < 1 || scale > 16) {
        std::fprintf(stderr, "font_specimen: SCALE must be 1..16\n");
        return 2;
    }
    bool ok = true;
    for (int n = 1; n <= 8; ++n) ok = specimen(n, argv[1], scale) && ok;
    return ok ? 0 : 1;
}
