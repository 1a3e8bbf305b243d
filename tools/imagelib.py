"""Small anti-aliased drawing library for the image generator.

Shapes are signed distance functions evaluated once per pixel centre; the
coverage of a pixel is clamp(0.5 - distance, 0, 1), which gives a one-pixel
soft edge. Colours are (r, g, b) tuples of 0..255; a paint is a colour or a
function (x, y) -> colour (gradients).
"""
import math


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def rgb565(c):
    r, g, b = (int(round(clamp(v, 0, 255))) for v in c)
    return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)


def from565(v):
    r, g, b = (v >> 11) & 31, (v >> 5) & 63, v & 31
    return ((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vgrad(y0, y1, c0, c1):
    def paint(x, y):
        return mix(c0, c1, clamp((y - y0) / float(max(1e-6, y1 - y0))))
    return paint


def hgrad(x0, x1, c0, c1):
    def paint(x, y):
        return mix(c0, c1, clamp((x - x0) / float(max(1e-6, x1 - x0))))
    return paint


# Signed distance functions: negative inside.

def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_ring(cx, cy, r, w):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - w / 2.0


def sd_box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        out = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return out + min(max(qx, qy), 0.0) - r
    return f


def sd_segment(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy or 1e-9

    def f(x, y):
        t = clamp(((x - ax) * dx + (y - ay) * dy) / ll)
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - w / 2.0
    return f


def sd_polyline(points, w):
    segs = [sd_segment(points[i][0], points[i][1], points[i + 1][0], points[i + 1][1], w)
            for i in range(len(points) - 1)]
    return lambda x, y: min(s(x, y) for s in segs)


def sd_polygon(points):
    n = len(points)

    def f(x, y):
        d = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            ll = ex * ex + ey * ey or 1e-9
            t = clamp(((x - ax) * ex + (y - ay) * ey) / ll)
            d = min(d, math.hypot(x - ax - t * ex, y - ay - t * ey))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / (ey or 1e-9):
                inside = not inside
        return -d if inside else d
    return f


def sd_arc(cx, cy, r, w, a0, a1):
    """Band of width w along the circle, angles in degrees (0 = right, counter-clockwise, y up)."""
    def f(x, y):
        ang = math.degrees(math.atan2(cy - y, x - cx)) % 360.0
        lo, hi = a0 % 360.0, a1 % 360.0
        within = lo <= ang <= hi if lo <= hi else (ang >= lo or ang <= hi)
        if within:
            return abs(math.hypot(x - cx, y - cy) - r) - w / 2.0
        ends = []
        for a in (a0, a1):
            px, py = cx + r * math.cos(math.radians(a)), cy - r * math.sin(math.radians(a))
            ends.append(math.hypot(x - px, y - py) - w / 2.0)
        return min(ends)
    return f


def sd_union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def sd_subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def sd_intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


class Canvas:
    def __init__(self, w, h, bg=(255, 255, 255)):
        self.w, self.h = w, h
        self.px = [[tuple(bg) for _ in range(w)] for _ in range(h)]

    def fill(self, sdf, paint, bbox=None, alpha=1.0):
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        solid = not callable(paint)
        for y in range(y0, y1):
            row = self.px[y]
            for x in range(x0, x1):
                d = sdf(x + 0.5, y + 0.5)
                cov = clamp(0.5 - d) * alpha
                if cov <= 0.0:
                    continue
                c = paint if solid else paint(x + 0.5, y + 0.5)
                row[x] = c if cov >= 1.0 else mix(row[x], c, cov)

    def rect(self, x0, y0, x1, y1, paint):
        """Hard-edged filled rectangle, x1 and y1 exclusive."""
        solid = not callable(paint)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = paint if solid else paint(x + 0.5, y + 0.5)

    def pixel(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def hline(self, x0, x1, y, c):
        for x in range(x0, x1 + 1):
            self.pixel(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(y0, y1 + 1):
            self.pixel(x, y, c)

    def blit_mask(self, rows, x, y, c, scale=1):
        """Draws a bitmap given as strings of '#' and '.'."""
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == "#":
                    for a in range(scale):
                        for b in range(scale):
                            self.pixel(x + i * scale + b, y + j * scale + a, c)

    def shade(self, fn):
        """Applies fn(x, y, colour) -> colour to every pixel."""
        for y in range(self.h):
            for x in range(self.w):
                self.px[y][x] = fn(x, y, self.px[y][x])

    def to565(self):
        out = []
        for row in self.px:
            out.extend(rgb565(c) for c in row)
        return out


def write_png(path, w, h, rows):
    """rows: list of lists of (r, g, b)."""
    import struct
    import zlib as _z
    raw = b"".join(b"\x00" + bytes(int(clamp(v, 0, 255)) for p in row for v in p) for row in rows)

    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", _z.crc32(t + d) & 0xFFFFFFFF)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    data += chunk(b"IDAT", _z.compress(raw, 6)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def contact_sheet(canvases, path, scale=2, columns=6, gap=6, bg=(120, 120, 120)):
    """Lays the canvases out in a grid, magnified, for review by eye."""
    cells = [(c.w * scale, c.h * scale) for c in canvases]
    rows, row, width = [], [], 0
    for i, c in enumerate(canvases):
        row.append(i)
        if len(row) == columns:
            rows.append(row)
            row = []
    if row:
        rows.append(row)
    widths = [sum(cells[i][0] + gap for i in r) + gap for r in rows]
    heights = [max(cells[i][1] for i in r) + gap for r in rows]
    W, H = max(widths), sum(heights) + gap
    out = [[bg for _ in range(W)] for _ in range(H)]
    y = gap
    for r, hgt in zip(rows, heights):
        x = gap
        for i in r:
            c = canvases[i]
            for yy in range(c.h * scale):
                src = c.px[yy // scale]
                dst = out[y + yy]
                for xx in range(c.w * scale):
                    dst[x + xx] = tuple(int(v) for v in from565(rgb565(src[xx // scale])))
            x += cells[i][0] + gap
        y += hgt
    write_png(path, W, H, out)


# ---------------------------------------------------------------- instrument fonts

class BitmapFont:
    """One font of the instrument, read from the generated table data/fonts.cpp."""

    def __init__(self, width, height, bytes_per_row, glyphs):
        self.w, self.h, self.bpr, self.glyphs = width, height, bytes_per_row, glyphs

    def rows(self, code):
        """The glyph of a Windows-1251 code as strings of '#' and '.'."""
        size = self.h * self.bpr
        data = self.glyphs[code * size:(code + 1) * size]
        out = []
        for r in range(self.h):
            raw = data[r * self.bpr] << 8
            if self.bpr == 2:
                raw |= data[r * self.bpr + 1]
            out.append("".join("#" if raw & (0x8000 >> c) else "." for c in range(self.w)))
        return out


def load_fonts(path):
    """The eight fonts of data/fonts.cpp by number (1..8)."""
    import re
    with open(path, encoding="utf-8") as f:
        text = f.read()
    tables = {}
    for m in re.finditer(r"static const u8 FONT(\d)\[[^\]]*\] = \{(.*?)\};", text, re.S):
        body = re.sub(r"//[^\n]*", "", m.group(2))
        tables[int(m.group(1))] = bytes(int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{2})", body))
    fonts = {}
    for m in re.finditer(r"\{(\d+), (\d+), (\d), FONT(\d)\}", text):
        w, h, bpr, n = (int(v) for v in m.groups())
        fonts[n] = BitmapFont(w, h, bpr, tables[n])
    return fonts


def text_width(font, s):
    return font.w * len(s.encode("cp1251"))


def draw_text(c, x, y, s, font, colour, outline=None):
    """Writes s (a str, drawn by its Windows-1251 codes) with its top-left
    corner at (x, y); with an outline colour every glyph pixel's eight
    neighbours that are not glyph pixels take that colour first."""
    codes = s.encode("cp1251")
    masks = [font.rows(code) for code in codes]
    if outline is not None:
        for i, rows in enumerate(masks):
            for j, row in enumerate(rows):
                for k, ch in enumerate(row):
                    if ch == "#":
                        for dy in (-1, 0, 1):
                            for dx in (-1, 0, 1):
                                c.pixel(x + i * font.w + k + dx, y + j + dy, outline)
    for i, rows in enumerate(masks):
        c.blit_mask(rows, x + i * font.w, y, colour)


def draw_text_centred(c, cx, y, s, font, colour, outline=None):
    draw_text(c, int(round(cx - text_width(font, s) / 2.0)), y, s, font, colour, outline)


def coverage_map(sdf, x0, y0, x1, y1):
    """Coverage of each pixel of the box [x0, x1) x [y0, y1) by a shape:
    {(x, y): 0..1}, only pixels that are touched."""
    out = {}
    for y in range(int(y0), int(math.ceil(y1))):
        for x in range(int(x0), int(math.ceil(x1))):
            cov = clamp(0.5 - sdf(x + 0.5, y + 0.5))
            if cov > 0.0:
                out[(x, y)] = cov
    return out


def paint_coverage(c, cov, paint, dx=0, dy=0):
    """Blends paint into the canvas by a coverage map, moved by (dx, dy)."""
    solid = not callable(paint)
    for (x, y), a in cov.items():
        px, py = x + dx, y + dy
        if 0 <= px < c.w and 0 <= py < c.h:
            col = paint if solid else paint(px + 0.5, py + 0.5)
            c.px[py][px] = col if a >= 1.0 else mix(c.px[py][px], col, a)
