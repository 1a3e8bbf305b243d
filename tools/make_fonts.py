#!/usr/bin/env python3
"""Generates data/fonts.cpp: the eight bitmap fonts of the instrument.

Sources (Debian packages, needed only to run this generator):
  xfonts-base      misc-fixed PCF fonts (public domain)
  xfonts-terminus  Terminus Font PCF fonts (SIL Open Font License 1.1)
Glyphs that the device needs and the sources lack or place elsewhere (degree
sign at 0xB8, superscript two at 0xBD in fonts 3, 4 and 8, triangles, arrows and pictograms in the
control range) are drawn here or taken from the Unicode misc-fixed fonts.
The 8 x 8 title font comes from misc-fixed 6x10; the glyphs that do not fit
its eight rows (accented capitals, descenders) and a few look-alikes are
drawn here (FONT3_DRAWN).

  python3 tools/make_fonts.py [--fonts DIR] [--out data/fonts.cpp] [--preview x.png]
"""
import argparse
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pcf  # noqa: E402

FONT_DIR = '/usr/share/fonts/X11/misc'


def cp1251_char(code):
    try:
        return ord(bytes([code]).decode('cp1251'))
    except UnicodeDecodeError:
        return None


class Cell:
    """A glyph under construction: h rows of w bits."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0] * w for _ in range(h)]

    def set(self, x, y, v=1):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = v

    def ink(self):
        return any(any(r) for r in self.px)


def place(cell, glyph, baseline, xoff, rows_keep=None):
    """Draws a source glyph with its baseline at cell row `baseline` (the
    first row below the letters) and its origin at column xoff."""
    top = baseline - glyph.ascent
    ink_rows = [r for r, row in enumerate(glyph.rows) if any(row)]
    if ink_rows and top + ink_rows[-1] >= cell.h and top + ink_rows[0] >= baseline:
        # A mark that lies wholly below the baseline and out of a short cell
        # (the underscore) moves up; descenders of letters are cut instead.
        top = max(cell.h - 1 - ink_rows[-1], -ink_rows[0])
    for r, row in enumerate(glyph.rows):
        y = top + r
        for c, b in enumerate(row):
            if b:
                cell.set(xoff + glyph.lsb + c, y)


# --- shapes drawn for every cell size ---------------------------------------

def tri_horizontal(cell, top, bottom, right):
    """Filled triangle pointing right (or left) between rows top..bottom."""
    n = bottom - top + 1
    a = (n - 1) // 2
    a = min(a, cell.w - 2)
    n = 2 * a + 1
    mid = (top + bottom) // 2
    x0 = (cell.w - 1 - (a + 1)) // 2
    for k in range(n):
        span = a - abs(k - a) + 1
        for j in range(span):
            cell.set(x0 + j if right else x0 + a - j, mid - a + k)


def tri_vertical(cell, top, bottom, up):
    width = cell.w - 1 if (cell.w - 1) % 2 else cell.w - 2
    a = min((width - 1) // 2, bottom - top)
    x0 = (cell.w - 1 - (2 * a + 1)) // 2
    y0 = (top + bottom - a) // 2
    for r in range(a + 1):
        y = y0 + (r if up else a - r)
        for x in range(a - r, a + r + 1):
            cell.set(x0 + x, y)


def arrow_vertical(cell, top, bottom, up):
    width = cell.w - 1 if (cell.w - 1) % 2 else cell.w - 2
    c = (width - 1) // 2
    head = min(c, 3)
    for y in range(top, bottom + 1):
        cell.set(c, y)
    for j in range(1, head + 1):
        y = top + j if up else bottom - j
        cell.set(c - j, y)
        cell.set(c + j, y)


def arrow_horizontal(cell, top, bottom, right):
    width = cell.w - 1
    rows = bottom - top + 1
    head = min((rows - 1) // 2, 3, width // 2)
    mid = (top + bottom) // 2
    for x in range(width):
        cell.set(x, mid)
    for j in range(1, head + 1):
        x = width - 1 - j if right else j
        cell.set(x, mid - j)
        cell.set(x, mid + j)


def draw_device_shapes(cell, code, top, bottom):
    if code == 0x10:
        tri_horizontal(cell, top, bottom, True)
    elif code == 0x11:
        tri_horizontal(cell, top, bottom, False)
    elif code == 0x18:
        arrow_vertical(cell, top, bottom, True)
    elif code == 0x19:
        arrow_vertical(cell, top, bottom, False)
    elif code == 0x1A:
        arrow_horizontal(cell, top, bottom, True)
    elif code == 0x1B:
        arrow_horizontal(cell, top, bottom, False)
    elif code == 0x1E:
        tri_vertical(cell, top, bottom, True)
    elif code == 0x1F:
        tri_vertical(cell, top, bottom, False)
    else:
        return False
    return True


# Pictograms of the classic PC character set at 0x01..0x1F.
PC_PICTOGRAMS = [0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642,
                 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC,
                 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC]

# Pictograms drawn by hand for the 5 x 6 font where the 4 x 6 source has none.
SMALL_PICTOGRAMS = {
    0x01: ['.##.', '#..#', '####', '#..#', '.##.', '....'],
    0x02: ['.##.', '####', '#..#', '####', '.##.', '....'],
    0x08: ['####', '#..#', '#..#', '####', '####', '....'],
    0x09: ['.##.', '#..#', '#..#', '.##.', '....', '....'],
    0x0A: ['####', '#..#', '#..#', '####', '####', '####'],
    0x0B: ['..##', '..##', '.#..', '#.#.', '.#..', '....'],
    0x0C: ['.#..', '#.#.', '.#..', '###.', '.#..', '....'],
    0x0F: ['#.#.', '.#..', '###.', '.#..', '#.#.', '....'],
    0x13: ['#.#.', '#.#.', '#.#.', '....', '#.#.', '....'],
    0x16: ['....', '....', '####', '####', '....', '....'],
    0x17: ['.#..', '###.', '.#..', '###.', '.#..', '###.'],
    0x12: ['.#..', '###.', '.#..', '###.', '.#..', '....'],
}


# Glyphs of the 8 x 8 title font (font 3) drawn here instead of taken from
# misc-fixed 6x10. Its rows: capitals 0-6, small letters 2-6 (x-height 5),
# one descender row 7; ink in columns 1-5 with one-pixel strokes, so two
# letters stand 2-3 pixels apart. Drawn are the glyphs that 6x10 cannot give
# within eight rows: letters with a long descender get a raised bowl or a
# short tail (g j p q y, р у ф), capitals with an accent a body one row
# shorter under a one-row accent (Ё Й Ѓ Ќ Ґ Ї Ў); the dots of , . : ; are
# square, where 6x10 has small diamonds that reach the descender row; and a
# few letters that 6x10 sets apart from their neighbours by one pixel only
# (c/с from о, з from э, l from I, щ from ш) or whose strokes touch (Ы ы).
FONT3_DRAWN = {
    0x2C: ['........',   # ,
           '........',
           '........',
           '........',
           '........',
           '...##...',
           '...##...',
           '..#.....'],
    0x2E: ['........',   # .
           '........',
           '........',
           '........',
           '........',
           '...##...',
           '...##...'],
    0x3A: ['........',   # :
           '........',
           '...##...',
           '...##...',
           '........',
           '...##...',
           '...##...'],
    0x3B: ['........',   # ;
           '........',
           '...##...',
           '...##...',
           '........',
           '...##...',
           '...##...',
           '..#.....'],
    0x60: ['..#.....',   # `
           '...#....'],
    0x63: ['........',   # c
           '........',
           '..####..',
           '.#......',
           '.#......',
           '.#......',
           '..####..'],
    0x67: ['........',   # g
           '........',
           '..####..',
           '.#...#..',
           '.#...#..',
           '..####..',
           '.....#..',
           '..###...'],
    0x6A: ['.....#..',   # j
           '........',
           '....##..',
           '.....#..',
           '.....#..',
           '.....#..',
           '.#...#..',
           '..###...'],
    0x6C: ['..##....',   # l, with a foot that sets it apart from I
           '...#....',
           '...#....',
           '...#....',
           '...#....',
           '...#....',
           '....##..'],
    0x70: ['........',   # p
           '........',
           '.####...',
           '.#...#..',
           '.#...#..',
           '.####...',
           '.#......',
           '.#......'],
    0x71: ['........',   # q
           '........',
           '..####..',
           '.#...#..',
           '.#...#..',
           '..####..',
           '.....#..',
           '.....#..'],
    0x79: ['........',   # y
           '........',
           '.#...#..',
           '.#...#..',
           '.#...#..',
           '..#.#...',
           '...#....',
           '.##.....'],
    0x80: ['.####...',   # Dje
           '..#.....',
           '..###...',
           '..#..#..',
           '..#..#..',
           '..#..#..',
           '..#..#..',
           '....#...'],
    0x81: ['....#...',   # Gje
           '.#####..',
           '.#......',
           '.#......',
           '.#......',
           '.#......',
           '.#......'],
    0x83: ['....#...',   # gje
           '........',
           '.#####..',
           '.#......',
           '.#......',
           '.#......',
           '.#......'],
    0x8D: ['....#...',   # Kje
           '.#...#..',
           '.#..#...',
           '.###....',
           '.#..#...',
           '.#...#..',
           '.#...#..'],
    0x90: ['..#.....',   # dje
           '.####...',
           '..#.....',
           '..###...',
           '..#..#..',
           '..#..#..',
           '..#..#..',
           '....#...'],
    0x99: ['.######.',   # trade mark
           '..#.###.',
           '..#.#.#.',
           '..#.#.#.'],
    0xA1: ['.#...#..',   # short U: a round breve over a shorter body
           '..###...',
           '.#...#..',
           '.#...#..',
           '..#.#...',
           '...#....',
           '.##.....'],
    0xA2: ['..#.#...',   # short u
           '...#....',
           '.#...#..',
           '.#...#..',
           '.#...#..',
           '..#.#...',
           '...#....',
           '.##.....'],
    0xA5: ['.....#..',   # Ghe with upturn
           '.#####..',
           '.#......',
           '.#......',
           '.#......',
           '.#......',
           '.#......'],
    0xA8: ['..#.#...',   # Io
           '.#####..',
           '.#......',
           '.####...',
           '.#......',
           '.#......',
           '.#####..'],
    0xAF: ['.#...#..',   # Yi
           '..###...',
           '...#....',
           '...#....',
           '...#....',
           '...#....',
           '..###...'],
    0xC9: ['..###...',   # short I
           '.#...#..',
           '.#...#..',
           '.#..##..',
           '.#.#.#..',
           '.##..#..',
           '.#...#..'],
    0xD9: ['.#.#.#..',   # Shcha: the tail stands out to the right
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '.######.',
           '......#.'],
    0xDB: ['.#....#.',   # Yeru: bowl and bar apart
           '.#....#.',
           '.#....#.',
           '.###..#.',
           '.#..#.#.',
           '.#..#.#.',
           '.###..#.'],
    0xBD: ['..##....',   # superscript two (the device glyph of "м/сЅ"), on the capitals' top rows
           '.#..#...',
           '...#....',
           '..#.....',
           '.####...'],
    0xE7: ['........',   # ze: open on the left, unlike e reversed
           '........',
           '..###...',
           '.....#..',
           '...##...',
           '.....#..',
           '..###...'],
    0xF4: ['........',   # ef
           '...#....',
           '..###...',
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '..###...',
           '...#....'],
    0xF9: ['........',   # shcha
           '........',
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '.#.#.#..',
           '.######.',
           '......#.'],
    0xFB: ['........',   # yeru
           '........',
           '.#....#.',
           '.#....#.',
           '.###..#.',
           '.#..#.#.',
           '.###..#.'],
}
# Cyrillic letters drawn exactly as their Latin twins.
for cyrillic, latin in ((0xBC, 0x6A), (0xF0, 0x70), (0xF1, 0x63), (0xF3, 0x79)):  # ј р с у
    FONT3_DRAWN[cyrillic] = FONT3_DRAWN[latin]
# Their descender keeps one row of two; the tail still shows.
FONT3_CUT_OK = {0xD6, 0xF6}   # Ц ц


class FontSpec:
    def __init__(self, number, w, h, source, baseline, xoff, first, picto=None,
                 picto_base=None, degree=True, sup2=None, font4_triangles=False, widen=False,
                 stretch=False, control_shapes=True, picto_range=True, drawn=None, cut_ok=None):
        self.number, self.w, self.h = number, w, h
        self.source, self.baseline, self.xoff, self.first = source, baseline, xoff, first
        self.picto, self.picto_base = picto, picto_base
        # drawn: code -> rows of '#'/'.' that replace the source glyph.
        # cut_ok: codes whose source glyph may lose ink outside the cell (a
        # long descender shortened to the last row); any other loss is an
        # error, so that no letter is clipped unnoticed.
        self.drawn, self.cut_ok = drawn or {}, cut_ok
        self.degree, self.sup2, self.font4_triangles = degree, sup2, font4_triangles
        self.widen, self.stretch = widen, stretch
        self.control_shapes, self.picto_range = control_shapes, picto_range


def load(name, cache={}):
    if name not in cache:
        cache[name] = pcf.Font(os.path.join(FONT_DIR, name + '.pcf.gz'))
    return cache[name]


def source_glyph(font_name, code):
    """Glyph for a Windows-1251 code from a source font (Unicode or cp1251)."""
    f = load(font_name)
    if font_name.endswith('cp1251'):
        return f.glyph(code)
    u = cp1251_char(code)
    return f.glyph(u) if u is not None else None


def draw_rows(cell, rows):
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == '#':
                cell.set(x, y)


def build_glyph(spec, code):
    cell = Cell(spec.w, spec.h)
    if code < spec.first:
        return cell
    top, bottom = 1 if spec.h > 6 else 0, spec.baseline - 1
    if code < 0x20:
        if not spec.picto_range:
            return cell
        if spec.control_shapes and draw_device_shapes(cell, code, top, bottom):
            return cell
        if spec.number == 1 and code in SMALL_PICTOGRAMS:
            draw_rows(cell, SMALL_PICTOGRAMS[code])
            return cell
        g = load(spec.picto).glyph(PC_PICTOGRAMS[code - 1])
        if g:
            place(cell, g, spec.picto_base, spec.xoff)
        return cell
    if code in spec.drawn:
        draw_rows(cell, spec.drawn[code])
        return cell
    g = None
    if code == 0xB8 and spec.degree:
        g = source_glyph(spec.source, 0xB0)
    elif code == 0xBD and spec.sup2:
        g = load(spec.sup2).glyph(0xB2)
    elif code in (0xB2, 0xB3) and spec.font4_triangles:
        draw_device_shapes(cell, 0x10 if code == 0xB2 else 0x11, 3, spec.baseline - 2)
        return cell
    else:
        g = source_glyph(spec.source, code)
    if g is None:
        g = source_glyph(spec.source, ord('?'))
    if spec.stretch:
        # A 10 x 20 source made 15 x 16: every even column doubled (so each
        # two-pixel stem becomes three pixels wide), the accent rows and the
        # descender rows merged.
        src = Cell(10, 20)
        place(src, g, 16, 0)
        row_groups = [(0, 1, 2)] + [(r,) for r in range(3, 16)] + [(16, 17), (18, 19)]
        for y, group in enumerate(row_groups):
            for c in range(10):
                bit = max(src.px[r][c] for r in group)
                start = c + (c + 1) // 2
                for x in range(start, start + (2 if c % 2 == 0 else 1)):
                    cell.px[y][x] = bit
    elif spec.widen:
        narrow = Cell(spec.w // 2, spec.h)
        place(narrow, g, spec.baseline, 0)
        for y in range(spec.h):
            for x in range(spec.w):
                cell.px[y][x] = narrow.px[y][x // 2] if 0 <= x // 2 < narrow.w else 0
    else:
        place(cell, g, spec.baseline, spec.xoff)
        lost = sum(map(sum, g.rows)) - sum(map(sum, cell.px))
        if spec.cut_ok is not None and lost and code not in spec.cut_ok:
            raise SystemExit('font %d: glyph 0x%02X loses %d pixels outside its cell; draw it in the '
                             'generator' % (spec.number, code, lost))
    return cell


SPECS = [
    FontSpec(1, 5, 6, '4x6', 5, 0, 1, picto='4x6', picto_base=5),
    FontSpec(2, 6, 8, '5x8', 7, 0, 1, picto='5x8', picto_base=7),
    FontSpec(3, 8, 8, '6x10', 7, 1, 1, picto='6x9', picto_base=7, drawn=FONT3_DRAWN,
             cut_ok=FONT3_CUT_OK),
    FontSpec(4, 8, 16, 'ter-u16n_cp1251', 12, 0, 1, picto='6x13', picto_base=12,
             sup2='ter-u16n_iso-8859-1', font4_triangles=True),
    FontSpec(5, 12, 16, '9x15B', 13, 1, 33, degree=False, picto_range=False),
    FontSpec(6, 16, 16, 'ter-u20b_cp1251', 14, 0, 33, degree=False, picto_range=False, stretch=True),
    FontSpec(7, 8, 12, 'ter-u12n_cp1251', 10, 1, 2, picto='6x12', picto_base=10, degree=False,
             control_shapes=False),
    FontSpec(8, 8, 14, 'ter-u14n_cp1251', 12, 0, 1, picto='6x13', picto_base=12,
             sup2='ter-u14n_iso-8859-1'),
]


def build_font(spec):
    return [build_glyph(spec, c) for c in range(256)]


def glyph_bytes(spec, cell):
    out = []
    for row in cell.px:
        word = 0
        for x, b in enumerate(row):
            if b:
                word |= 0x8000 >> x
        if spec.w > 8:
            out += [word >> 8, word & 0xFF]
        else:
            out.append(word >> 8)
    return out


def write_cpp(path, fonts):
    lines = ['// Generated by tools/make_fonts.py from misc-fixed (public domain) and',
             '// Terminus Font (SIL Open Font License 1.1) bitmaps; see data/FONTS-LICENSES.md.',
             '// Do not edit: change the generator and run it again.',
             '#include "data/fonts.h"', '']
    for spec, glyphs in fonts:
        per = spec.h * (2 if spec.w > 8 else 1)
        lines.append('// Font %d: %d x %d, %d bytes per glyph.' % (spec.number, spec.w, spec.h, per))
        lines.append('static const u8 FONT%d[256 * %d] = {' % (spec.number, per))
        for code, cell in enumerate(glyphs):
            data = glyph_bytes(spec, cell)
            lines.append('    ' + ', '.join('0x%02X' % b for b in data) + ',  // 0x%02X' % code)
        lines.append('};')
        lines.append('')
    lines.append('const FontData font_table[8] = {')
    for spec, _ in fonts:
        lines.append('    {%d, %d, %d, FONT%d},' % (spec.w, spec.h, 2 if spec.w > 8 else 1, spec.number))
    lines.append('};')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


def write_png(path, width, height, pixels):
    raw = b''.join(b'\0' + bytes(pixels[y * width:(y + 1) * width]) for y in range(height))

    def chunk(t, d):
        c = struct.pack('>I', len(d)) + t + d
        return c + struct.pack('>I', zlib.crc32(t + d) & 0xFFFFFFFF)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 0, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
    open(path, 'wb').write(data)


def preview(path, fonts, text):
    """Quick grey-scale look at the glyph tables (the specimen tool of the
    build draws the real thing)."""
    scale = 2
    rows = []
    for spec, glyphs in fonts:
        for line in (range(0x20, 0x80), range(0x80, 0x100), range(0, 0x20), text):
            row = []
            for c in line:
                row.append(glyphs[c])
            rows.append((spec, row))
    width = max(sum(g.w + 1 for g in r) for _, r in rows) * scale
    height = sum(s.h + 2 for s, _ in rows) * scale
    px = [255] * (width * height)
    y0 = 0
    for spec, row in rows:
        x0 = 0
        for g in row:
            for y in range(g.h):
                for x in range(g.w):
                    if g.px[y][x]:
                        for dy in range(scale):
                            for dx in range(scale):
                                px[((y0 + y) * scale + dy) * width + (x0 + x) * scale + dx] = 0
            x0 += g.w + 1
        y0 += spec.h + 2
    write_png(path, width, height, px)


def set_font_dir(path):
    global FONT_DIR
    FONT_DIR = path


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--fonts', default='/usr/share/fonts/X11/misc', help='folder of the PCF fonts')
    ap.add_argument('--out', default=os.path.join(os.path.dirname(__file__), '..', 'data', 'fonts.cpp'))
    ap.add_argument('--preview', help='also write a quick PNG of all glyphs')
    args = ap.parse_args()
    set_font_dir(args.fonts)
    fonts = [(s, build_font(s)) for s in SPECS]
    write_cpp(args.out, fonts)
    if args.preview:
        text = list('Съешь же ещё этих мягких французских булок 0123456789 ёЁ°№'.encode('cp1251'))
        preview(args.preview, fonts, text)


if __name__ == '__main__':
    main()
