#!/usr/bin/env python3
"""Generates the instrument's pictures: data/images.cpp and data/images.h.

Every picture is drawn here procedurally (tools/imagelib.py), converted to
RGB565 and stored in the packed form of the image set: a 4-byte header
(height low byte, 0x40 | height bits 8-13, width low byte, width high byte)
followed by a zlib stream of the pixels, row by row, little-endian. A few
small pictures are stored unpacked: four 16-bit header words, then pixels.
Texts inside pictures are written with the instrument's own fonts, read
from data/fonts.cpp (tools/make_fonts.py).

Run from the repository root:  python3 tools/make_images.py
To add a picture: write a function that returns a Canvas of the right size
and list it in packed_set() (by image-set index) or UNPACKED below.
"""
import math
import os
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imagelib import (Canvas, coverage_map, draw_text, draw_text_centred, from565, load_fonts,  # noqa: E402
                      paint_coverage, rgb565, sd_arc, sd_box, sd_circle, sd_polygon, sd_polyline, sd_segment,
                      sd_ring, sd_subtract, sd_union, text_width, vgrad)

# Screen colours (RGB565 values of the instrument, widened to 8 bits).
SCREEN_BG = from565(54938)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
DARK_BLUE = from565(16)
LIGHT_GREY = from565(59164)

# Palette of the picture family.
STEEL_HI = (236, 240, 247)
STEEL_LO = (168, 180, 204)
STEEL_LINE = (72, 86, 120)
KEY_HI = (86, 124, 196)
KEY_LO = (24, 48, 112)
INK = (28, 46, 104)          # pictograms on normal icons
ACCENT = (226, 120, 24)      # orange accents
GOOD = (40, 170, 60)
WARN = (236, 196, 30)
ALARM = (220, 40, 40)
SEL_HI = (84, 150, 238)      # highlighted icon gradient
SEL_LO = (18, 58, 150)

# ---------------------------------------------------------------- frame bars


def title_bar_paint():
    return vgrad(0, 19, STEEL_HI, STEEL_LO)


def bottom_bar_paint():
    return vgrad(216, 239, (206, 214, 230), (150, 164, 192))


def title_bar():
    c = Canvas(320, 20)
    c.rect(0, 0, 320, 19, title_bar_paint())
    c.hline(0, 319, 19, STEEL_LINE)
    c.hline(0, 319, 0, WHITE)
    # Plate behind the clock: the clock is written on the screen background.
    c.fill(sd_box(204.5, 3.5, 274.5, 17.5, 3), STEEL_LINE)
    c.fill(sd_box(205.5, 4.5, 273.5, 16.5, 2.5), SCREEN_BG)
    return c


def bar_strip(w, h):
    """A piece of the bottom bar (it starts at screen row 216)."""
    c = Canvas(w, h)
    c.rect(0, 0, w, h, lambda x, y: bottom_bar_paint()(x, y + 216))
    c.hline(0, w - 1, 0, STEEL_LINE)
    c.hline(0, w - 1, 1, (236, 240, 248))
    return c


def bottom_bar():
    return bar_strip(320, 24)


def blank_key():
    return bar_strip(60, 24)


TINY = {  # 3 x 5 letters for key marks
    "E": ["###", "#..", "##.", "#..", "###"],
    "n": ["...", "##.", "#.#", "#.#", "#.#"],
    "t": [".#.", "###", ".#.", ".#.", ".##"],
}


def key(mark, height=24):
    c = bar_strip(60, height)
    c.fill(sd_box(0.5, 2.5, 59.5, height - 0.5, 5), (12, 24, 60))
    c.fill(sd_box(1.5, 3.5, 58.5, height - 1.5, 4), vgrad(3, height - 2, KEY_HI, KEY_LO))
    # Gloss on the upper half.
    c.fill(sd_box(3.5, 4.5, 56.5, 4.5 + (height - 6) / 2.0, 3), WHITE, alpha=0.18)
    cy = 2 + (height - 2) / 2.0
    if mark == "ent":
        c.fill(sd_box(2.5, 5.5, 17.5, height - 3.5, 2), (250, 220, 90))
        x = 3
        for ch in "Ent":
            c.blit_mask(TINY[ch], x + 1, int(cy) - 3, (20, 30, 70))
            x += 4
    elif mark in ("up", "down", "left", "right"):
        s = 5.0
        cx = 10.0
        pts = {
            "up": [(cx, cy - s), (cx + s, cy + s * 0.7), (cx - s, cy + s * 0.7)],
            "down": [(cx, cy + s), (cx + s, cy - s * 0.7), (cx - s, cy - s * 0.7)],
            "left": [(cx - s, cy), (cx + s * 0.7, cy - s), (cx + s * 0.7, cy + s)],
            "right": [(cx + s, cy), (cx - s * 0.7, cy - s), (cx - s * 0.7, cy + s)],
        }[mark]
        c.fill(sd_polygon(pts), (250, 220, 90))
    return c


# ---------------------------------------------------------------- icons

ICON_W, ICON_H = 90, 77


def icon_base(selected):
    c = Canvas(ICON_W, ICON_H, SCREEN_BG)
    if selected:
        c.fill(sd_box(1.5, 1.5, 88.5, 75.5, 11), (10, 30, 90))
        c.fill(sd_box(2.5, 2.5, 87.5, 74.5, 10), vgrad(2, 74, SEL_HI, SEL_LO))
        c.fill(sd_box(5.5, 4.5, 84.5, 34, 8), WHITE, alpha=0.16)
    else:
        c.fill(sd_box(4.5, 4.5, 85.5, 72.5, 9), (150, 158, 178))
        c.fill(sd_box(5.5, 5.5, 84.5, 71.5, 8), vgrad(5, 71, (250, 251, 253), (206, 212, 226)))
    return c


def pictogram_colours(selected):
    if selected:
        return WHITE, (255, 210, 80)
    return INK, ACCENT


def draw_vibrometer(c, ink, acc, sel):
    cx, cy, r = 45.0, 46.0, 25.0
    c.fill(sd_arc(cx, cy, r, 6, 110, 200), GOOD)
    c.fill(sd_arc(cx, cy, r, 6, 50, 110), WARN)
    c.fill(sd_arc(cx, cy, r, 6, -20, 50), ALARM)
    for a in range(-20, 201, 20):
        ra = math.radians(a)
        c.fill(sd_segment(cx + (r - 9) * math.cos(ra), cy - (r - 9) * math.sin(ra),
                          cx + (r - 5) * math.cos(ra), cy - (r - 5) * math.sin(ra), 1.4), ink)
    na = math.radians(62)
    c.fill(sd_segment(cx, cy, cx + (r - 4) * math.cos(na), cy - (r - 4) * math.sin(na), 2.6), acc)
    c.fill(sd_circle(cx, cy, 4), ink)
    pts = [(20 + i, 64 + 4 * math.sin(i / 50.0 * 4 * math.pi)) for i in range(0, 51)]
    c.fill(sd_polyline(pts, 2.0), ink)


def draw_spectra(c, ink, acc, sel):
    c.fill(sd_polyline([(16, 12), (16, 64), (76, 64)], 2.2), ink)
    heights = [10, 34, 16, 44, 12, 24, 8, 18, 6, 12]
    for i, h in enumerate(heights):
        x = 21 + i * 5.4
        c.fill(sd_box(x, 63 - h, x + 3.4, 63, 0.5), acc)
    pts = [(18 + i, 26 + 7 * math.sin(i / 9.0) * math.cos(i / 23.0)) for i in range(0, 57)]
    c.fill(sd_polyline(pts, 2.0), ink)


def draw_route(c, ink, acc, sel):
    path = [(14, 62), (27, 46), (42, 56), (55, 33), (66, 26)]
    for i in range(len(path) - 1):
        (ax, ay), (bx, by) = path[i], path[i + 1]
        n = int(math.hypot(bx - ax, by - ay) / 5)
        for k in range(0, n, 2):
            t0, t1 = k / float(n), min(1.0, (k + 1) / float(n))
            c.fill(sd_segment(ax + (bx - ax) * t0, ay + (by - ay) * t0,
                              ax + (bx - ax) * t1, ay + (by - ay) * t1, 2.4), ink)
    for (x, y) in path[:-1]:
        c.fill(sd_circle(x, y, 5), ink)
        c.fill(sd_circle(x, y, 2.5), acc)
    fx, fy = path[-1]
    c.fill(sd_segment(fx, fy + 4, fx, fy - 16, 2.2), ink)
    c.fill(sd_polygon([(fx + 1, fy - 16), (fx + 14, fy - 11), (fx + 1, fy - 6)]), acc)


def draw_special(c, ink, acc, sel):
    # A motor with a sensor on its housing and vibration marks.
    c.fill(sd_box(14, 36, 58, 62, 5), ink)
    for i in range(5):
        c.fill(sd_box(18 + i * 8, 39, 21 + i * 8, 59, 1), acc if sel else (120, 136, 180))
    c.fill(sd_box(58, 45, 74, 52, 1), ink)
    c.fill(sd_box(10, 62, 62, 66, 1), ink)
    c.fill(sd_box(30, 22, 40, 36, 2), acc)
    c.fill(sd_segment(35, 22, 35, 12, 2), ink)
    for r in (7, 12):
        c.fill(sd_arc(35, 28, r + 6, 2.0, 20, 70), ink)
        c.fill(sd_arc(35, 28, r + 6, 2.0, 110, 160), ink)


def draw_archive(c, ink, acc, sel):
    # A filing drawer with folders.
    c.fill(sd_polygon([(22, 22), (50, 22), (54, 16), (68, 16), (68, 58), (22, 58)]), acc)
    c.fill(sd_box(16, 30, 74, 66, 3), ink)
    paper = (240, 244, 252) if not sel else (210, 226, 255)
    c.fill(sd_box(22, 26, 62, 34, 1), paper)
    c.fill(sd_box(34, 40, 56, 48, 2), paper)
    c.fill(sd_box(39, 42, 51, 45, 1), ink)


def gear(cx, cy, r_out, r_in, teeth, hole):
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_out if (i % 4) in (1, 2) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return sd_subtract(sd_polygon(pts), sd_circle(cx, cy, hole))


def draw_settings(c, ink, acc, sel):
    c.fill(gear(40, 40, 24, 18, 10, 7), ink)
    c.fill(gear(64, 58, 12, 9, 8, 3.5), acc)


def draw_rms_table(c, ink, acc, sel):
    c.fill(sd_box(14, 28, 76, 66, 2), ink)
    paper = (244, 246, 252) if not sel else (214, 228, 255)
    for j in range(3):
        for i in range(3):
            x0, y0 = 17 + i * 20, 31 + j * 12
            c.fill(sd_box(x0, y0, x0 + 17.5, y0 + 9.5, 0.5), paper)
    pts = [(16 + i, 16 + 6 * math.sin(i / 60.0 * 4 * math.pi)) for i in range(0, 61)]
    c.fill(sd_polyline(pts, 2.2), acc)


def draw_meas_setup(c, ink, acc, sel):
    for i, knob in enumerate((50, 28, 40)):
        x = 26 + i * 19
        c.fill(sd_segment(x, 14, x, 64, 2.6), ink)
        c.fill(sd_box(x - 7, knob - 4, x + 7, knob + 4, 2), acc)


def draw_parameters(c, ink, acc, sel):
    # A calendar page and a clock.
    c.fill(sd_box(12, 20, 50, 62, 3), ink)
    paper = (244, 246, 252) if not sel else (214, 228, 255)
    c.fill(sd_box(15, 30, 47, 59, 1), paper)
    for j in range(3):
        for i in range(4):
            c.fill(sd_box(18 + i * 7, 33 + j * 8, 22 + i * 7, 37 + j * 8, 0.5), ink)
    c.fill(sd_circle(58, 46, 19), acc)
    c.fill(sd_circle(58, 46, 15), paper)
    c.fill(sd_segment(58, 46, 58, 35, 2.4), ink)
    c.fill(sd_segment(58, 46, 66, 50, 2.4), ink)
    c.fill(sd_circle(58, 46, 2.5), ink)


def draw_volume(c, ink, acc, sel):
    c.fill(sd_polygon([(18, 32), (28, 32), (42, 20), (42, 60), (28, 48), (18, 48)]), ink)
    for r in (10, 18, 26):
        c.fill(sd_arc(42, 40, r, 3, -45, 45), acc)


def draw_update(c, ink, acc, sel):
    # A chip receiving a new program: an arrow pointing down into it.
    c.fill(sd_box(16, 32, 50, 64, 3), ink)
    for i in range(4):
        for (x0, y0, x1, y1) in ((19 + i * 8, 27, 22 + i * 8, 32), (19 + i * 8, 64, 22 + i * 8, 69),
                                 (11, 35 + i * 7.5, 16, 38 + i * 7.5), (50, 35 + i * 7.5, 55, 38 + i * 7.5)):
            c.fill(sd_box(x0, y0, x1, y1, 0.5), ink)
    paper = (244, 246, 252) if not sel else (214, 228, 255)
    c.fill(sd_box(22, 38, 44, 58, 1), paper)
    c.fill(sd_box(62, 10, 72, 34, 1), acc)
    c.fill(sd_polygon([(56, 34), (78, 34), (67, 47)]), acc)
    c.fill(sd_polyline([(67, 52), (67, 58), (56, 58)], 2.4), acc)


def icon(draw, selected):
    c = icon_base(selected)
    ink, acc = pictogram_colours(selected)
    draw(c, ink, acc, selected)
    return c


# ---------------------------------------------------------------- small pieces


def on_white(c):
    """Keys the screen background out: exact background pixels become white."""
    c.shade(lambda x, y, p: WHITE if rgb565(p) == 54938 else p)
    return c


def warning_icon():
    c = Canvas(31, 32, SCREEN_BG)
    c.fill(sd_polygon([(15.5, 2), (30, 28.5), (1, 28.5)]), (60, 40, 0))
    c.fill(sd_polygon([(15.5, 4.5), (28, 27), (3, 27)]), (250, 206, 30))
    c.fill(sd_segment(15.5, 11, 15.5, 19.5, 3.2), BLACK)
    c.fill(sd_circle(15.5, 23.5, 1.9), BLACK)
    return on_white(c)


def error_icon():
    c = Canvas(31, 32, SCREEN_BG)
    c.fill(sd_circle(15.5, 16, 14.5), (110, 0, 0))
    c.fill(sd_circle(15.5, 16, 13.2), vgrad(3, 29, (240, 70, 60), (180, 10, 10)))
    c.fill(sd_segment(10, 10.5, 21, 21.5, 3.4), WHITE)
    c.fill(sd_segment(21, 10.5, 10, 21.5, 3.4), WHITE)
    return on_white(c)


def battery(level, charging=False, bg_rows=(3, 18)):
    c = Canvas(33, 15)
    c.rect(0, 0, 33, 15, lambda x, y: title_bar_paint()(x, y + bg_rows[0]))
    c.fill(sd_box(0.5, 1.5, 29.5, 13.5, 2), (30, 36, 56))
    c.fill(sd_box(1.5, 2.5, 28.5, 12.5, 1.5), (236, 240, 246))
    c.fill(sd_box(29.5, 4.5, 32.5, 10.5, 1), (30, 36, 56))
    colour = ALARM if level <= 1 else WARN if level == 2 else GOOD
    for i in range(level):
        c.fill(sd_box(3 + i * 5.1, 4, 6.9 + i * 5.1, 11, 0.5), colour)
    if charging:
        c.fill(sd_polygon([(16, 1), (11, 8), (15, 8), (13, 14), (20, 6), (16, 6)]), (250, 220, 40))
    return c


def field_marker(focused):
    c = Canvas(25, 25, SCREEN_BG)
    if focused:
        c.fill(sd_polygon([(5, 4), (21, 12.5), (5, 21)]), (12, 40, 120))
        c.fill(sd_polygon([(7, 7.5), (17.5, 12.5), (7, 17.5)]), (90, 160, 250))
    else:
        c.fill(sd_circle(12.5, 12.5, 4), (130, 140, 160))
        c.fill(sd_circle(12.5, 12.5, 2.6), (236, 238, 244))
    return c


# Strips of the measurement setup screen (317 x 7), drawn one above each option
# bar with white transparent (image mode 3): rows 0-4 white, so the strip never
# covers the bar above it, and rows 5-6 the rule just above its own bar, in the
# highlight colour for the focused bar and the background colour otherwise.
# The screen draws the same rule above its focused choice box.
SETUP_STRIP_W, SETUP_STRIP_H, SETUP_RULE_ROW = 317, 7, 5
SETUP_RULE = ACCENT


def setup_strip(focused):
    c = Canvas(SETUP_STRIP_W, SETUP_STRIP_H, WHITE)
    c.rect(0, SETUP_RULE_ROW, SETUP_STRIP_W, SETUP_STRIP_H, SETUP_RULE if focused else SCREEN_BG)
    return c


def option_segment(highlighted, part):
    """15 x 28 piece of an option bar: 'mid', 'joint', 'first' or 'last'."""
    c = Canvas(15, 28, SCREEN_BG)
    top, bottom = (SEL_HI, SEL_LO) if highlighted else ((250, 251, 253), (196, 204, 220))
    body = sd_box(-10 if part != "first" else 1.5, 2.5, 25 if part != "last" else 13.5, 25.5,
                  0 if part in ("mid", "joint") else 6)
    c.fill(body, (70, 84, 120))
    inner = sd_box(-10 if part != "first" else 2.5, 3.5, 25 if part != "last" else 12.5, 24.5,
                   0 if part in ("mid", "joint") else 5)
    c.fill(inner, vgrad(3, 25, top, bottom))
    if part == "joint":
        c.vline(7, 3, 24, (70, 84, 120))
    return c


def choice_piece(kind):
    w = {"left": 22, "left_focus": 22, "right": 8, "filler": 16}[kind]
    c = Canvas(w, 20, SCREEN_BG)
    paint = vgrad(1, 19, (250, 251, 253), (206, 212, 226))
    if kind == "filler":
        c.rect(0, 1, w, 19, paint)
        c.hline(0, w - 1, 0, (70, 84, 120))
        c.hline(0, w - 1, 19, (70, 84, 120))
        return c
    if kind == "right":
        c.fill(sd_box(-10, 0.5, 7.5, 19.5, 5), (70, 84, 120))
        c.fill(sd_box(-10, 1.5, 6.5, 18.5, 4), paint)
        return c
    c.fill(sd_box(0.5, 0.5, 40, 19.5, 5), (70, 84, 120))
    c.fill(sd_box(1.5, 1.5, 40, 18.5, 4), paint)
    tri = (18, 60, 150) if kind == "left_focus" else (110, 120, 140)
    c.fill(sd_polygon([(6, 7), (16, 7), (11, 13)]), tri)
    return c


def slider_mark():
    c = Canvas(11, 17, SCREEN_BG)
    c.fill(sd_polygon([(0.5, 0.5), (10.5, 0.5), (10.5, 11), (5.5, 16.5), (0.5, 11)]), (12, 30, 80))
    c.fill(sd_polygon([(1.8, 1.8), (9.2, 1.8), (9.2, 10.5), (5.5, 14.6), (1.8, 10.5)]),
           vgrad(1, 15, (120, 180, 255), (20, 70, 170)))
    return c


def volume_panel():
    c = Canvas(172, 37, SCREEN_BG)
    c.fill(sd_box(0.5, 0.5, 171.5, 36.5, 6), (90, 100, 130))
    c.fill(sd_box(1.5, 1.5, 170.5, 35.5, 5), vgrad(1, 36, (248, 249, 252), (200, 208, 224)))
    # Speaker.
    c.fill(sd_polygon([(6, 12), (11, 12), (18, 6), (18, 26), (11, 20), (6, 20)]), INK)
    # Rising wedge of the volume scale, marks from 32 to 132.
    c.fill(sd_polygon([(32, 26), (132, 26), (132, 8)]), vgrad(8, 26, (250, 170, 60), (60, 170, 70)))
    c.fill(sd_segment(32, 28, 132, 28, 1.2), INK)
    for i in range(11):
        x = 32 + i * 10
        c.fill(sd_segment(x, 28, x, 31 if i % 5 else 34, 1.1), INK)
    c.fill(sd_segment(146, 16, 158, 16, 2.2), INK)
    c.fill(sd_segment(152, 10, 152, 22, 2.2), INK)
    c.fill(sd_segment(20, 30, 26, 30, 1.8), INK)
    return c


def check_box(ticked):
    c = Canvas(24, 24, SCREEN_BG)
    c.fill(sd_box(3.5, 3.5, 20.5, 20.5, 3), (60, 72, 104))
    c.fill(sd_box(4.5, 4.5, 19.5, 19.5, 2), vgrad(4, 20, WHITE, (214, 220, 232)))
    if ticked:
        c.fill(sd_polyline([(7.5, 12), (11, 16), (17, 7.5)], 2.8), (20, 120, 40))
    return c


# Strokes of the logo letters on a 10 x 16 grid.
LOGO_GLYPHS = {
    "T": [[(0, 0), (10, 0)], [(5, 0), (5, 16)]],
    "A": [[(0, 16), (5, 0), (10, 16)], [(2.2, 10), (7.8, 10)]],
    "R": [[(0, 16), (0, 0), (7, 0), (10, 3), (10, 5), (7, 8), (0, 8)], [(5, 8), (10, 16)]],
    "V": [[(0, 0), (5, 16), (10, 0)]],
    "I": [[(5, 0), (5, 16)]],
    "K": [[(0, 0), (0, 16)], [(10, 0), (1, 9)], [(4, 6), (10, 16)]],
    "-": [[(2, 9), (8, 9)]],
    "2": [[(0, 3), (3, 0), (7, 0), (10, 3), (10, 6), (0, 16), (10, 16)]],
}


def logo():
    c = Canvas(172, 32, SCREEN_BG)
    c.fill(sd_box(0.5, 0.5, 171.5, 31.5, 7), (14, 36, 96))
    c.fill(sd_box(1.5, 1.5, 170.5, 30.5, 6), vgrad(1, 31, (60, 110, 200), (14, 44, 120)))
    # A vibration trace under the name.
    pts = [(8 + i, 26 + 2.5 * math.sin(i / 4.0) * math.exp(-((i - 78) / 60.0) ** 2)) for i in range(157)]
    c.fill(sd_polyline(pts, 1.3), (255, 190, 60))
    x = 14.0
    for ch in "TARVIK-2":
        strokes = LOGO_GLYPHS[ch]
        w = 10 if ch not in "I-" else (4 if ch == "I" else 10)
        for s in strokes:
            pts = [(x + px * 1.0 - (3 if ch == "I" else 0), 5 + py * 1.0) for (px, py) in s]
            c.fill(sd_polyline(pts, 2.6), WHITE)
        x += w + 8
    return c


# ---------------------------------------------------------------- measuring screens

FONTS = load_fonts(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data", "fonts.cpp"))

PLATE_EDGE = (90, 100, 130)
PLATE_HI = (248, 249, 252)
PLATE_LO = (200, 208, 224)
WELL_DARK = (110, 120, 150)  # upper and left edges of a recessed area
POCKET = (36, 44, 70)        # socket of the run indicators
NEAR_WHITE = (248, 248, 248)  # RGB565 0xFFDF: white to the eye, not keyed
NEAR_BLACK = (0, 4, 0)

# Grade colours of the large digits: (light top, dark bottom, rim), around
# the instrument's good 1280, warning 44352 and alarm 63488.
GRADE_TONES = {
    "GREEN": ((70, 206, 70), (0, 128, 0), (0, 58, 0)),
    "YELLOW": ((252, 222, 60), (196, 150, 0), (96, 66, 0)),
    "RED": ((255, 84, 64), (196, 0, 0), (96, 0, 0)),
}


def plate(c, x0, y0, x1, y1, r=6, edge=PLATE_EDGE, top=PLATE_HI, bottom=PLATE_LO):
    """A light panel with a rounded outline (pixel edges x0..x1, y0..y1)."""
    c.fill(sd_box(x0 + 0.5, y0 + 0.5, x1 + 0.5, y1 + 0.5, r), edge, bbox=(x0, y0, x1 + 1, y1 + 1))
    c.fill(sd_box(x0 + 1.5, y0 + 1.5, x1 - 0.5, y1 - 0.5, r - 1), vgrad(y0 + 1, y1, top, bottom),
           bbox=(x0, y0, x1 + 1, y1 + 1))


def well(c, x0, y0, x1, y1, inside=SCREEN_BG):
    """A recessed area whose inside is exactly the pixels x0..x1-1, y0..y1-1,
    with a dark edge above and left of it and a light one below and right."""
    c.rect(x0, y0, x1, y1, inside)
    c.hline(x0 - 1, x1, y0 - 1, WELL_DARK)
    c.vline(x0 - 1, y0 - 1, y1, WELL_DARK)
    # The light edges give way to the outline of the picture.
    if y1 < c.h - 1:
        c.hline(x0, x1, y1, WHITE)
    if x1 < c.w - 1:
        c.vline(x1, y0, y1, WHITE)


def keyless(c):
    """Moves exact white and black (keyed out or recoloured by image modes 1
    to 4) to their nearest neighbours, so the picture draws whole in any mode."""
    c.shade(lambda x, y, p: NEAR_WHITE if rgb565(p) == 0xFFFF else NEAR_BLACK if rgb565(p) == 0 else p)
    return c


def pocket(c, x, y, w, h):
    """The socket a run indicator of w x h is drawn into at (x, y)."""
    c.fill(sd_box(x - 1.5, y - 1.5, x + w + 1.5, y + h + 1.5, 4), POCKET)


# Seven-segment digits: the lit segments of each digit (a top, b upper
# right, c lower right, d bottom, e lower left, f upper left, g middle).
SEGMENTS = {"0": "abcdef", "1": "bc", "2": "abdeg", "3": "abcdg", "4": "bcfg", "5": "acdfg",
            "6": "acdefg", "7": "abc", "8": "abcdefg", "9": "abcdfg"}


def segment_shape(x0, y0, w, h, t, segs):
    """Union of the named segments of a glyph whose outer box is (x0, y0, w, h)
    and whose strokes are t thick; segments end in points with small gaps."""
    xl, xr = x0 + t / 2.0, x0 + w - t / 2.0
    yt, ym, yb = y0 + t / 2.0, y0 + h / 2.0, y0 + h - t / 2.0
    g = 0.6 + t * 0.08
    h2 = t / 2.0

    def hseg(xa, xb, yc):
        return sd_polygon([(xa + g, yc), (xa + g + h2, yc - h2), (xb - g - h2, yc - h2), (xb - g, yc),
                           (xb - g - h2, yc + h2), (xa + g + h2, yc + h2)])

    def vseg(xc, ya, yb_):
        return sd_polygon([(xc, ya + g), (xc + h2, ya + g + h2), (xc + h2, yb_ - g - h2), (xc, yb_ - g),
                           (xc - h2, yb_ - g - h2), (xc - h2, ya + g + h2)])
    parts = {"a": hseg(xl, xr, yt), "g": hseg(xl, xr, ym), "d": hseg(xl, xr, yb),
             "f": vseg(xl, yt, ym), "b": vseg(xr, yt, ym), "e": vseg(xl, ym, yb), "c": vseg(xr, ym, yb)}
    return sd_union(*[parts[s] for s in segs])


def lit_glyph(c, masks, tones, top, bottom):
    """Draws a glyph from its coverage maps (body, rim) in a grade's tones."""
    body, rim = masks
    hi, lo, edge = tones
    paint_coverage(c, rim, edge)
    paint_coverage(c, body, vgrad(top, bottom, hi, lo))


def glyph_masks(shape, box, rim):
    """Coverage maps of a glyph's body and of the body grown by its rim,
    within box (x0, y0, x1, y1)."""
    x0, y0, x1, y1 = box
    grown = (lambda x, y: shape(x, y) - rim)
    return (coverage_map(shape, x0, y0, x1, y1), coverage_map(grown, x0, y0, x1, y1))


class DigitStrip:
    """Layout of a digit strip: digit d in the cell at pitch * d, then the
    point and the minus cells; the screen cuts cells of `cell` x (height - 1)."""

    def __init__(self, w, h, pitch, cell, point_x, point_size, point_y, minus_x, minus_w, box, thick, rim):
        self.w, self.h, self.pitch, self.cell = w, h, pitch, cell
        self.point_x, self.point_size, self.point_y = point_x, point_size, point_y
        self.minus_x, self.minus_w = minus_x, minus_w
        # Glyph box inside a digit cell (x, y, w, h), stroke and rim widths.
        self.box, self.thick, self.rim = box, thick, rim


# Large value digits: cells 53 wide at 55 px pitch, "." a 27 x 27 cell at 550
# drawn 49 rows lower, "-" 39 wide at 580; the strip is 629 x 76.
BIG_DIGITS = DigitStrip(629, 76, 55, 53, 550, 27, 49, 580, 39, (5, 3, 43, 69), 10.0, 1.6)
# Temperature digits: 27 px cells and pitch, "." a 15 x 15 cell at 270 drawn
# 24 rows lower, "-" 20 wide at 285; the strip is 310 x 39.
TEMP_DIGITS = DigitStrip(310, 39, 27, 27, 270, 15, 24, 285, 20, (3, 2, 21, 34), 5.0, 1.2)

_STRIP_MASKS = {}  # glyph coverage of each strip layout, shared by its three colours


def strip_masks(s):
    """Coverage maps of every glyph of a strip, in strip coordinates."""
    key = id(s)
    if key in _STRIP_MASKS:
        return _STRIP_MASKS[key]
    gx, gy, gw, gh = s.box
    out = []
    for d in range(10):
        x0 = d * s.pitch + gx
        shape = segment_shape(x0, gy, gw, gh, s.thick, SEGMENTS[str(d)])
        out.append(glyph_masks(shape, (x0 - 3, gy - 3, x0 + gw + 3, gy + gh + 3), s.rim))
    # The minus: the middle stroke of a glyph, centred in its cell.
    mw = s.minus_w - 2 * gx + s.thick * 0.6
    mx = s.minus_x + (s.minus_w - mw) / 2.0
    shape = segment_shape(mx - s.thick / 2.0, gy, mw + s.thick, gh, s.thick, "g")
    out.append(glyph_masks(shape, (s.minus_x, gy - 3, s.minus_x + s.minus_w, gy + gh + 3), s.rim))
    # The point sits on the digits' baseline once moved down by point_y.
    base = gy + gh - s.point_y
    size = s.thick * 1.05
    cx = s.point_x + s.point_size / 2.0
    shape = sd_box(cx - size / 2.0, base - size, cx + size / 2.0, base, size * 0.18)
    out.append(glyph_masks(shape, (s.point_x, 0, s.point_x + s.point_size, s.point_size), s.rim))
    _STRIP_MASKS[key] = out
    return out


def digit_strip(s, grade):
    """A digit strip in one grade's colour on the screen background."""
    c = Canvas(s.w, s.h, SCREEN_BG)
    gx, gy, gw, gh = s.box
    tones = GRADE_TONES[grade]
    masks = strip_masks(s)
    for m in masks[:11]:
        lit_glyph(c, m, tones, gy, gy + gh)
    lit_glyph(c, masks[11], tones, gy - s.point_y, gy + gh - s.point_y)
    return keyless(c)


def big_digits(grade):
    return digit_strip(BIG_DIGITS, grade)


def temp_digits(grade):
    return digit_strip(TEMP_DIGITS, grade)


# Where the vibrometer draws its pieces (screen coordinates).
VIBRO_PANEL_AT = (18, 22)
VIBRO_INDICATOR_AT = ((44, 33), (44, 86))
VIBRO_CAPTION_AT = (7, 76)
TEMP_BOX = (80, 25, 161, 63)  # cleared before the temperature digits are drawn
INDICATOR_W, INDICATOR_H = 34, 24


def thermometer(c, x, y, h, ink, fluid):
    """A thermometer h pixels tall with its top-left at (x, y)."""
    c.fill(sd_union(sd_box(x + 2, y, x + 8, y + h - 7, 3), sd_circle(x + 5, y + h - 5, 5)), ink)
    c.fill(sd_union(sd_box(x + 3.3, y + 1.3, x + 6.7, y + h - 7, 1.7), sd_circle(x + 5, y + h - 5, 3.7)), WHITE)
    c.fill(sd_union(sd_box(x + 4, y + h * 0.45, x + 6, y + h - 7, 1), sd_circle(x + 5, y + h - 5, 2.6)), fluid)


def degree_c(c, x, y, ink):
    """A large "°C" with its top-left at (x, y), 28 x 22."""
    c.fill(sd_ring(x + 4.5, y + 4.5, 3.2, 2.2), ink)
    c.fill(sd_arc(x + 19, y + 11.5, 8.5, 3.4, 40, 320), ink)


def vibro_panel():
    """Panel of the vibrometer's upper row: the run indicator's socket, the
    window of the temperature digits and their unit."""
    c = Canvas(197, 43, SCREEN_BG)
    ox, oy = VIBRO_PANEL_AT
    plate(c, 0, 0, 196, 42)
    ix, iy = VIBRO_INDICATOR_AT[0]
    pocket(c, ix - ox, iy - oy, INDICATOR_W, INDICATOR_H)
    x0, y0, x1, y1 = TEMP_BOX
    well(c, x0 - ox, y0 - oy, x1 - ox + 1, y1 - oy + 1)
    # The sensor the reading comes from, left of the indicator.
    c.fill(sd_box(6, 13, 19, 28, 2), INK)
    c.fill(sd_box(8.5, 15.5, 16.5, 25.5, 1), (150, 164, 196))
    c.fill(sd_box(8, 28, 17, 31, 0.5), (120, 130, 150))
    c.fill(sd_polyline([(12.5, 13), (12.5, 8), (15, 5), (20, 5)], 1.6), INK)
    # The unit of the temperature and a thermometer.
    degree_c(c, 149, 6, INK)
    thermometer(c, 181, 6, 31, INK, ALARM)
    return keyless(c)


def run_indicator(running):
    """34 x 24 lamp: green with a trace while measuring, red with a stop
    square while stopped."""
    c = Canvas(INDICATOR_W, INDICATOR_H, POCKET)
    if running:
        hi, lo, edge = (120, 230, 110), (10, 130, 30), (0, 60, 10)
    else:
        hi, lo, edge = (250, 110, 90), (170, 20, 20), (80, 0, 0)
    c.fill(sd_box(0.5, 0.5, 33.5, 23.5, 4), edge)
    c.fill(sd_box(1.5, 1.5, 32.5, 22.5, 3), vgrad(1, 23, hi, lo))
    c.fill(sd_box(3.5, 2.5, 30.5, 10.5, 3), WHITE, alpha=0.25)
    if running:
        pts = [(5 + i * 0.5, 12 - 6.0 * math.sin(i * 0.5 / 24.0 * 4 * math.pi) * math.exp(-i / 60.0))
               for i in range(49)]
        c.fill(sd_polyline(pts, 2.2), NEAR_WHITE)
    else:
        c.fill(sd_box(12, 7, 22, 17, 1), NEAR_WHITE)
    return keyless(c)


QUANTITY_CAPTIONS = [  # letter, measure, unit
    ("A", "Пик", "м/с"),
    ("V", "СКЗ", "мм/с"),
    ("D", "Размах", "мкм"),
]


def quantity_letter(c, cx, cy, letter, colour, size):
    """Latin A, V or D drawn with strokes, size pixels tall, centred."""
    s = size / 2.0
    w = s * 0.8
    if letter == "A":
        c.fill(sd_polyline([(cx - w, cy + s), (cx, cy - s), (cx + w, cy + s)], size * 0.2), colour)
        c.fill(sd_segment(cx - w * 0.55, cy + s * 0.35, cx + w * 0.55, cy + s * 0.35, size * 0.17), colour)
    elif letter == "V":
        c.fill(sd_polyline([(cx - w, cy - s), (cx, cy + s), (cx + w, cy - s)], size * 0.2), colour)
    else:
        k = 0.55
        c.fill(sd_polyline([(cx - w * 0.8, cy - s), (cx + w * (1 - k), cy - s)], size * 0.2), colour)
        c.fill(sd_polyline([(cx - w * 0.8, cy + s), (cx + w * (1 - k), cy + s)], size * 0.2), colour)
        c.fill(sd_segment(cx - w * 0.8, cy - s, cx - w * 0.8, cy + s, size * 0.2), colour)
        c.fill(sd_arc(cx + w * (1 - k), cy, s, size * 0.2, -90, 90), colour)


def quantity_caption(q):
    """77 x 68 caption of the large value: the quantity's letter, the socket
    of the second run indicator, the measure and the unit."""
    letter, measure, unit = QUANTITY_CAPTIONS[q]
    c = Canvas(77, 68, SCREEN_BG)
    ox, oy = VIBRO_CAPTION_AT
    plate(c, 0, 0, 76, 67)
    ix, iy = VIBRO_INDICATOR_AT[1]
    pocket(c, ix - ox, iy - oy, INDICATOR_W, INDICATOR_H)
    # Letter badge left of the socket.
    c.fill(sd_box(5.5, 9.5, 31.5, 34.5, 5), (12, 24, 60))
    c.fill(sd_box(6.5, 10.5, 30.5, 33.5, 4), vgrad(10, 34, KEY_HI, KEY_LO))
    c.fill(sd_box(8.5, 11.5, 28.5, 21.5, 3), WHITE, alpha=0.18)
    quantity_letter(c, 18.5, 22, letter, (250, 220, 90), 15)
    c.hline(6, 70, 37, (150, 160, 186))
    c.hline(6, 70, 38, WHITE)
    draw_text_centred(c, 38.5, 36, measure, FONTS[4], INK)
    big = FONTS[6]
    x = int(round(38.5 - (text_width(big, unit) + (6 if q == 0 else 0)) / 2.0))
    draw_text(c, x, 49, unit, big, DARK_BLUE)
    if q == 0:  # m/s squared: a small raised two
        draw_text(c, x + text_width(big, unit) + 1, 51, "2", FONTS[2], DARK_BLUE)
    return keyless(c)


# Bar graph of the velocity: the frame is drawn at (274, 42); the bar runs
# from y 205 (zero) up to y 67 (full scale), filled between x 285 and 308.
BAR_FRAME_AT = (274, 42)
BAR_ZERO_Y, BAR_TOP_Y = 205, 67
BAR_X0, BAR_X1 = 285, 308


def bar_frame():
    """Frame of the velocity bar graph: the unit, a groove for the bar with
    a scale of tenths, and the background where the limits are written."""
    c = Canvas(46, 174, SCREEN_BG)
    ox, oy = BAR_FRAME_AT
    plate(c, 0, 0, 45, 173, 5)
    # The field of the limit lines and labels is the screen background.
    c.rect(2, 18, 44, 170, SCREEN_BG)
    c.hline(2, 43, 17, (150, 160, 186))
    draw_text_centred(c, 23, 5, "мм/с", FONTS[3], DARK_BLUE)
    gx0, gx1 = BAR_X0 - ox, BAR_X1 - ox + 1
    top, zero = BAR_TOP_Y - oy, BAR_ZERO_Y - oy
    well(c, gx0, top, gx1, zero + 1, (236, 238, 244))
    for i in range(11):
        y = int(round(zero - i * (zero - top) / 10.0))
        n = 5 if i % 5 == 0 else 3
        c.hline(gx0 - 2 - n, gx0 - 3, y, (120, 130, 156))
        c.hline(gx1 + 2, gx1 + 1 + n, y, (120, 130, 156))
    return keyless(c)


# The plot area of the vibrometer: the panel is drawn at (0, 149); the plot
# view clears (2, 153)-(270, 211) itself.
PLOT_PANEL_AT = (0, 149)
PLOT_AREA = (2, 153, 270, 211)


def plot_panel():
    """Steel rim around the plot area (or the shock-pulse values)."""
    c = Canvas(274, 67, SCREEN_BG)
    ox, oy = PLOT_PANEL_AT
    c.fill(sd_box(0.5, 0.5, 273.5, 66.5, 4), PLATE_EDGE)
    c.fill(sd_box(1.5, 1.5, 272.5, 65.5, 3), vgrad(1, 66, STEEL_HI, STEEL_LO))
    x0, y0, x1, y1 = PLOT_AREA
    well(c, x0 - ox, y0 - oy, x1 - ox + 1, y1 - oy + 1)
    return keyless(c)


def shock_panel():
    """57 x 57 picture left of the shock-pulse values: a rolling bearing
    and the shock pulses of its rollers."""
    c = Canvas(57, 57, SCREEN_BG)
    plate(c, 0, 0, 56, 56, 6)
    cx, cy = 28.5, 24.5
    c.fill(sd_ring(cx, cy, 17, 5), INK)
    c.fill(sd_ring(cx, cy, 8.5, 4), INK)
    c.fill(sd_circle(cx, cy, 5.5), (150, 164, 196))
    for i in range(8):
        a = 2 * math.pi * i / 8 + 0.2
        c.fill(sd_circle(cx + 12.7 * math.cos(a), cy + 12.7 * math.sin(a), 2.9), (130, 140, 170))
        c.fill(sd_circle(cx + 12.7 * math.cos(a) - 0.8, cy + 12.7 * math.sin(a) - 0.8, 1.0), WHITE)
    # Pulses on a base line.
    c.hline(6, 50, 51, INK)
    for k, h in enumerate((10, 5, 8, 4)):
        x = 9 + k * 11
        c.fill(sd_polygon([(x - 1.6, 51), (x, 51 - h), (x + 1.6, 51)]), ACCENT)
    return keyless(c)


# The bearing choice screen: the drawing stands at (206, 30) in the upper
# panel, left of the dimension values written from x 251 in font 6 at y 33,
# 56, 79, 102 and 125; it names each value on its row.
BEARING_DRAWING_AT = (206, 30)
BEARING_VALUES_X = 251
BEARING_VALUE_ROWS = (33, 56, 79, 102, 125)
BEARING_CAPTIONS = ("D", "d", "Z", "Dw", "\u03b1")
# The Greek alpha (no code of Windows-1251) in the 8 x 16 cell of font 4.
ALPHA_ROWS = ["........"] * 5 + [".##...#.", "#..#..#.", "#...##..", "#...#...", "#..#.#..", ".##...#."]


def arrow_line(c, x, y0, y1, colour):
    """A vertical dimension line from y0 to y1 with an arrowhead at each end."""
    c.fill(sd_segment(x, y0 + 1, x, y1 - 1, 1.0), colour)
    c.fill(sd_polygon([(x - 2.5, y0 + 4.5), (x, y0), (x + 2.5, y0 + 4.5)]), colour)
    c.fill(sd_polygon([(x - 2.5, y1 - 4.5), (x, y1), (x + 2.5, y1 - 4.5)]), colour)


def bearing_drawing():
    """45 x 114 section of a ball bearing through its axis (outer ring, ball
    and inner ring above and below the axis) with the outer and bore
    diameters as dimension lines, and beside it the captions of the five
    dimension values: D outer, d bore, Z rollers, Dw roller, alpha contact
    angle, each on its value's row."""
    ox, oy = BEARING_DRAWING_AT
    w = BEARING_VALUES_X - ox
    c = Canvas(w, 114, SCREEN_BG)
    axis = 56.5
    steel = vgrad(0, 114, STEEL_HI, STEEL_LO)
    for sign in (-1, 1):
        def y(v):
            return axis + sign * v
        outer = sorted((y(43), y(54)))
        inner = sorted((y(20), y(30)))
        for y0, y1 in (outer, inner):
            c.fill(sd_box(5.5, y0, 23.5, y1, 1), INK)
            c.fill(sd_box(6.5, y0 + 1, 22.5, y1 - 1, 0.5), steel)
        c.fill(sd_circle(14.5, y(36.5), 6.5), INK)
        c.fill(sd_circle(14.5, y(36.5), 5.3), (150, 164, 196))
        c.fill(sd_circle(13, y(36.5) - 1.5, 1.4), NEAR_WHITE)
    for x in range(4, 26, 4):  # the axis, dashed
        c.hline(x, x + 1, int(axis), (120, 130, 156))
    arrow_line(c, 2.5, axis - 54, axis + 54, DARK_BLUE)
    arrow_line(c, 20.5, axis - 20, axis + 20, DARK_BLUE)
    font = FONTS[4]
    for row, caption in zip(BEARING_VALUE_ROWS, BEARING_CAPTIONS):
        y = row + 1 - oy  # the caption's letters on the line of the value's
        if caption == "\u03b1":
            c.blit_mask(ALPHA_ROWS, w - 1 - font.w, y, DARK_BLUE)
        else:
            draw_text(c, w - 1 - text_width(font, caption), y, caption, font, DARK_BLUE)
    return c


# Status-bar mode icons: 15 x 14 cells of one strip, drawn at y 3 of the
# title bar: 0 none, 15 time signal, 30 spectrum, 45 shock pulses, 60 A,
# 75 V, 90 D, 105 marker channel, 120 / 135 / 150 the spectrum display
# settings 2 / 0 / 1 (dB, linear, logarithmic), 165 external sensor.
MODE_ICON_W, MODE_ICON_H, MODE_ICON_Y = 15, 14, 3


def mode_icon(c, x0, kind):
    """One mode icon: a small key with a yellow mark."""
    mark = (250, 220, 90)
    c.fill(sd_box(x0 + 0.5, 0.5, x0 + 14.5, 13.5, 3), (12, 24, 60), bbox=(x0, 0, x0 + 15, 14))
    c.fill(sd_box(x0 + 1.5, 1.5, x0 + 13.5, 12.5, 2), vgrad(1, 13, KEY_HI, KEY_LO), bbox=(x0, 0, x0 + 15, 14))
    if kind == "none":
        return
    if kind == "signal":
        pts = [(x0 + 2.5 + i * 0.25, 7 - 3.5 * math.sin(i * 0.25 / 10.0 * 3 * math.pi)) for i in range(41)]
        c.fill(sd_polyline(pts, 1.4), mark, bbox=(x0, 0, x0 + 15, 14))
    elif kind == "spectrum":
        for i, h in enumerate((3, 8, 5, 2)):
            c.rect(x0 + 3 + i * 3, 11 - h, x0 + 5 + i * 3, 11, mark)
    elif kind == "shock":
        c.hline(x0 + 2, x0 + 12, 10, mark)
        for i, h in enumerate((7, 4, 6)):
            c.vline(x0 + 4 + i * 3, 10 - h, 10, mark)
    elif kind in ("A", "V", "D"):
        quantity_letter(c, x0 + 7.5, 7, kind, mark, 8)
    elif kind == "marker":
        pts = [(2, 10), (4, 10), (4, 4), (7, 4), (7, 10), (9, 10), (9, 4), (12, 4)]
        c.fill(sd_polyline([(x0 + px + 0.5, py + 0.5) for px, py in pts], 1.3), mark, bbox=(x0, 0, x0 + 15, 14))
    elif kind == "db":
        draw_text(c, x0 + 2, 4, "dB", FONTS[1], mark)
    elif kind == "lin":
        c.fill(sd_segment(x0 + 3, 11, x0 + 12, 3, 1.5), mark, bbox=(x0, 0, x0 + 15, 14))
        c.hline(x0 + 3, x0 + 12, 11, mark)
    elif kind == "log":
        pts = [(x0 + 3 + i * 0.5, 11 - 7.5 * math.log(1 + i * 0.5) / math.log(10)) for i in range(19)]
        c.fill(sd_polyline(pts, 1.5), mark, bbox=(x0, 0, x0 + 15, 14))
        c.hline(x0 + 3, x0 + 12, 11, mark)
    elif kind == "external":
        # A sensor on its cable, plugged in.
        c.fill(sd_box(x0 + 2.5, 7.5, x0 + 7.5, 11.5, 1), mark, bbox=(x0, 0, x0 + 15, 14))
        c.fill(sd_polyline([(x0 + 5, 7.5), (x0 + 5, 3.5), (x0 + 11, 3.5), (x0 + 11, 6.5)], 1.1), mark,
               bbox=(x0, 0, x0 + 15, 14))
        c.fill(sd_box(x0 + 9.5, 6.5, x0 + 12.5, 11.5, 0.5), mark, bbox=(x0, 0, x0 + 15, 14))
        c.fill(sd_box(x0 + 10.5, 7.5, x0 + 11.5, 10.5, 0), (24, 48, 112), bbox=(x0, 0, x0 + 15, 14))


# Cell kinds in strip order, with their names in data/images.h.
MODE_ICONS = [("none", "NONE"), ("signal", "SIGNAL"), ("spectrum", "SPECTRUM"), ("shock", "SHOCK"),
              ("A", "ACCEL"), ("V", "VELOCITY"), ("D", "DISPLACEMENT"), ("marker", "MARKER"), ("db", "DB"),
              ("lin", "LINEAR"), ("log", "LOG"), ("external", "EXTERNAL")]


def mode_icons():
    c = Canvas(MODE_ICON_W * len(MODE_ICONS), MODE_ICON_H)
    c.rect(0, 0, c.w, c.h, lambda x, y: title_bar_paint()(x, y + MODE_ICON_Y))
    for i, (kind, _) in enumerate(MODE_ICONS):
        mode_icon(c, i * MODE_ICON_W, kind)
    return keyless(c)


# Tree icons: 22 x 20 cells of one strip, icon n at x = (n - 1) * 22, on the
# tree's background (59164). Icon 1 is drawn with image mode 1, so its
# background is white there (white takes the background colour).
TREE_ICON_W, TREE_ICON_H = 22, 20
TREE_ICONS = [  # icon 1 first; the names in data/images.h are IMG_TREE_<upper case>
    "object", "instrument", "folder", "shock_signal", "shock_spectrum", "temperature", "route",
    "route_done", "point", "point_done", "vibrometer_todo", "marker_signal", "bearing", "voice",
    "skipped", "error", "signal", "spectrum", "vibrometer", "signal_todo", "spectrum_todo", "rms",
    "unknown",
]
GREY_INK = (140, 148, 168)


def card(c, x0, done):
    """A measurement sheet with a folded corner; dashed and grey when the
    point is still to be measured."""
    b = (x0, 0, x0 + 22, 20)
    shape = sd_polygon([(x0 + 3.5, 1.5), (x0 + 14.5, 1.5), (x0 + 18.5, 5.5), (x0 + 18.5, 18.5), (x0 + 3.5, 18.5)])
    if done:
        c.fill(shape, (70, 84, 120), bbox=b)
        inner = sd_polygon([(x0 + 4.5, 2.5), (x0 + 14, 2.5), (x0 + 17.5, 6), (x0 + 17.5, 17.5), (x0 + 4.5, 17.5)])
        c.fill(inner, vgrad(2, 18, WHITE, (226, 232, 244)), bbox=b)
    else:
        c.fill(shape, (246, 246, 248), bbox=b)
        for i, (ax, ay, bx, by) in enumerate([(3.5, 1.5, 14.5, 1.5), (14.5, 1.5, 18.5, 5.5), (18.5, 5.5, 18.5, 18.5),
                                              (18.5, 18.5, 3.5, 18.5), (3.5, 18.5, 3.5, 1.5)]):
            n = max(1, int(math.hypot(bx - ax, by - ay) / 2))
            for k in range(0, n, 2):
                t0, t1 = k / float(n), (k + 1) / float(n)
                c.fill(sd_segment(x0 + ax + (bx - ax) * t0, ay + (by - ay) * t0, x0 + ax + (bx - ax) * t1,
                                  ay + (by - ay) * t1, 1.0), GREY_INK, bbox=b)
    c.fill(sd_polyline([(x0 + 14.5, 1.5), (x0 + 14.5, 5.5), (x0 + 18.5, 5.5)], 1.0),
           (70, 84, 120) if done else GREY_INK, bbox=b)


def wave_pts(x0, x1, yc, amp, periods):
    n = int((x1 - x0) * 4)
    return [(x0 + (x1 - x0) * i / n, yc - amp * math.sin(i / float(n) * periods * 2 * math.pi)) for i in range(n + 1)]


def tree_icon(c, n, kind):
    x0 = (n - 1) * TREE_ICON_W
    b = (x0, 0, x0 + 22, 20)

    def F(shape, paint):
        c.fill(shape, paint, bbox=b)
    X = lambda v: x0 + v  # noqa: E731
    if kind == "object":  # an electric motor on its base
        F(sd_box(X(2), 5, X(15), 15, 2.5), vgrad(5, 15, (92, 128, 200), (24, 48, 112)))
        for i in range(3):
            F(sd_box(X(4.2 + i * 3.6), 6.5, X(5.6 + i * 3.6), 13.5, 0.5), (150, 176, 230))
        F(sd_box(X(15), 8.5, X(20.5), 11.5, 0.5), (80, 90, 110))
        F(sd_box(X(1), 15, X(17), 18, 0.8), (70, 84, 120))
        F(sd_box(X(6), 2.5, X(11), 5.5, 0.8), ACCENT)
    elif kind == "instrument":  # the hand-held instrument
        F(sd_box(X(5), 1, X(17), 19, 2.5), (40, 52, 90))
        F(sd_box(X(7), 3, X(15), 10, 0.5), (150, 220, 160))
        F(sd_polyline([(X(7.5), 7.5), (X(9.5), 5), (X(11), 8), (X(13), 5), (X(14.5), 6.5)], 0.9), (0, 100, 0))
        for i in range(3):
            F(sd_circle(X(8 + i * 3), 14, 1.1), (200, 208, 224))
    elif kind == "folder":
        F(sd_polygon([(X(2), 4), (X(8), 4), (X(10), 6), (X(20), 6), (X(20), 17), (X(2), 17)]), (190, 130, 30))
        F(sd_box(X(2), 8, X(20), 17, 1), vgrad(8, 17, (252, 214, 110), (226, 160, 40)))
    elif kind in ("signal", "signal_todo"):
        done = kind == "signal"
        card(c, x0, done)
        F(sd_polyline(wave_pts(X(5.5), X(16.5), 11, 4, 1.5), 1.4), (24, 60, 180) if done else GREY_INK)
    elif kind in ("spectrum", "spectrum_todo"):
        done = kind == "spectrum"
        card(c, x0, done)
        ink = (24, 60, 180) if done else GREY_INK
        for i, h in enumerate((4, 10, 6, 3)):
            c.rect(X(6) + i * 3, 16 - h, X(8) + i * 3, 16, ink)
        c.hline(X(5), X(17), 16, (70, 84, 120) if done else GREY_INK)
    elif kind in ("shock_signal", "shock_spectrum"):
        card(c, x0, True)
        if kind == "shock_signal":
            c.hline(X(6), X(16), 12, (70, 84, 120))
            for i, h in enumerate((6, 3, 5)):
                c.vline(X(7) + i * 4, 12 - h, 12 + h // 2, ACCENT)
        else:
            for i, h in enumerate((3, 9, 5, 7)):
                c.rect(X(6) + i * 3, 16 - h, X(8) + i * 3, 16, ACCENT)
            c.hline(X(5), X(17), 16, (70, 84, 120))
    elif kind == "temperature":
        thermometer(c, X(6), 1, 18, INK, ALARM)
        c.fill(sd_ring(X(16.5), 4.5, 2, 1.2), INK, bbox=b)
    elif kind in ("route", "route_done"):
        path = [(3, 16), (8, 10), (12, 14), (17, 6)]
        F(sd_polyline([(X(px), py) for px, py in path], 1.4), INK)
        for px, py in path[:-1]:
            F(sd_circle(X(px), py, 2.2), ACCENT)
        F(sd_segment(X(17), 7, X(17), 1, 1.2), INK)
        F(sd_polygon([(X(17.5), 1), (X(21.5), 2.8), (X(17.5), 4.6)]), ALARM)
        if kind == "route_done":
            F(sd_circle(X(16.5), 14.5, 5), (20, 140, 40))
            F(sd_polyline([(X(14), 14.5), (X(16), 16.5), (X(19), 12.5)], 1.6), WHITE)
    elif kind in ("point", "point_done"):
        if kind == "point":
            F(sd_ring(X(11), 10, 6, 1.6), GREY_INK)
        else:
            F(sd_circle(X(11), 10, 7), (20, 140, 40))
            F(sd_polyline([(X(7.5), 10), (X(10), 12.5), (X(14.5), 7)], 2.0), WHITE)
    elif kind in ("vibrometer", "vibrometer_todo"):
        done = kind == "vibrometer"
        cx, cy = X(11), 13
        if done:
            F(sd_arc(cx, cy, 8, 2.6, 110, 180), GOOD)
            F(sd_arc(cx, cy, 8, 2.6, 60, 110), WARN)
            F(sd_arc(cx, cy, 8, 2.6, 0, 60), ALARM)
            F(sd_segment(cx, cy, cx + 6 * math.cos(1.1), cy - 6 * math.sin(1.1), 1.5), INK)
            F(sd_circle(cx, cy, 1.8), INK)
        else:
            F(sd_arc(cx, cy, 8, 1.4, 0, 180), GREY_INK)
            F(sd_segment(cx, cy, cx + 6 * math.cos(1.1), cy - 6 * math.sin(1.1), 1.2), GREY_INK)
        c.hline(X(2), X(20), 17, INK if done else GREY_INK)
    elif kind == "marker_signal":
        pts = [(2, 15), (5, 15), (5, 5), (9, 5), (9, 15), (13, 15), (13, 5), (17, 5), (17, 15), (20, 15)]
        F(sd_polyline([(X(px), py) for px, py in pts], 1.4), INK)
    elif kind == "bearing":
        F(sd_ring(X(11), 10, 7.5, 2.2), INK)
        F(sd_ring(X(11), 10, 3.2, 1.6), INK)
        for i in range(6):
            a = i * math.pi / 3
            F(sd_circle(X(11) + 5.3 * math.cos(a), 10 + 5.3 * math.sin(a), 1.3), ACCENT)
    elif kind == "voice":
        F(sd_box(X(8), 2, X(14), 12, 3), INK)
        F(sd_arc(X(11), 8, 5.5, 1.3, 180, 360), INK)
        F(sd_segment(X(11), 13.5, X(11), 17, 1.3), INK)
        F(sd_segment(X(7.5), 17.5, X(14.5), 17.5, 1.3), INK)
    elif kind == "skipped":
        F(sd_ring(X(11), 10, 7, 1.4), GREY_INK)
        F(sd_segment(X(7), 10, X(15), 10, 2.2), GREY_INK)
    elif kind == "error":
        F(sd_circle(X(11), 10, 7.5), (190, 20, 20))
        F(sd_segment(X(8), 7, X(14), 13, 2), WHITE)
        F(sd_segment(X(14), 7, X(8), 13, 2), WHITE)
    elif kind == "rms":
        card(c, x0, True)
        for j in range(3):
            for i in range(2):
                c.rect(X(6) + i * 5, 5 + j * 4, X(10) + i * 5, 8 + j * 4, (24, 60, 180) if j == 0 else (150, 176, 230))
    elif kind == "unknown":
        card(c, x0, False)
        draw_text(c, X(7), 6, "?", FONTS[3], GREY_INK)


def tree_icons():
    c = Canvas(TREE_ICON_W * len(TREE_ICONS), TREE_ICON_H, LIGHT_GREY)
    for i, kind in enumerate(TREE_ICONS):
        tree_icon(c, i + 1, kind)
    keyless(c)
    # Icon 1 is drawn in image mode 1: its background must be white.
    for y in range(TREE_ICON_H):
        for x in range(TREE_ICON_W):
            if rgb565(c.px[y][x]) == 59164:
                c.px[y][x] = WHITE
    return c


# The dialog shown after a measurement was saved: drawn at (1, 50); the
# dialog writes its title centred on x 160 at y 58, the two message lines
# centred on x 184 at y 94 and 114, and the captions "Ok" and "Голос" centred
# on x 120 and 240 at y 152. The recording mark (33 x 34) goes to (281, 141);
# the same place of the background holds the idle microphone.
SAVED_DIALOG_AT = (1, 50)
RECORD_MARK_AT = (281, 141)
RECORD_MARK_W, RECORD_MARK_H = 33, 34


def microphone(c, x, y, recording):
    """The microphone of the voice note in a 33 x 34 box at (x, y)."""
    b = (x, y, x + 33, y + 34)
    if recording:
        c.fill(sd_circle(x + 16.5, y + 15, 15), (255, 120, 100), bbox=b, alpha=0.45)
        c.fill(sd_circle(x + 16.5, y + 15, 12), (255, 90, 70), bbox=b, alpha=0.55)
        body, edge = vgrad(y + 4, y + 22, (255, 110, 90), (190, 10, 10)), (100, 0, 0)
        stand = (120, 0, 0)
    else:
        body, edge = vgrad(y + 4, y + 22, (236, 238, 244), (150, 158, 178)), (90, 100, 130)
        stand = (110, 120, 150)
    c.fill(sd_box(x + 11.5, y + 3.5, x + 21.5, y + 21.5, 5), edge, bbox=b)
    c.fill(sd_box(x + 12.5, y + 4.5, x + 20.5, y + 20.5, 4), body, bbox=b)
    for k in range(3):
        c.fill(sd_segment(x + 13.5, y + 9 + k * 3, x + 19.5, y + 9 + k * 3, 0.9), edge, bbox=b, alpha=0.6)
    c.fill(sd_arc(x + 16.5, y + 15, 9, 1.8, 180, 360), stand, bbox=b)
    c.fill(sd_segment(x + 16.5, y + 24, x + 16.5, y + 29, 1.8), stand, bbox=b)
    c.fill(sd_segment(x + 11, y + 29.5, x + 22, y + 29.5, 1.8), stand, bbox=b)


def saved_dialog():
    c = Canvas(318, 134, SCREEN_BG)
    ox, oy = SAVED_DIALOG_AT
    c.fill(sd_box(0.5, 0.5, 317.5, 133.5, 7), (14, 28, 72))
    c.fill(sd_box(1.5, 1.5, 316.5, 132.5, 6), vgrad(1, 133, PLATE_HI, PLATE_LO))
    # Title band: the title is written in white.
    c.fill(sd_box(3.5, 3.5, 314.5, 28.5, 4), vgrad(3, 28, KEY_HI, KEY_LO))
    c.fill(sd_box(5.5, 4.5, 312.5, 15.5, 3), WHITE, alpha=0.18)
    # Message field: dark-blue text on paper.
    well(c, 64, 38, 312, 86, (250, 251, 253))
    # Saved: a memory chip with a green tick.
    c.fill(sd_box(10, 44, 48, 80, 4), INK)
    for i in range(5):
        c.fill(sd_box(13 + i * 7, 39, 16 + i * 7, 44, 0.5), (150, 158, 178))
        c.fill(sd_box(13 + i * 7, 80, 16 + i * 7, 85, 0.5), (150, 158, 178))
    c.fill(sd_box(15, 49, 43, 75, 2), vgrad(49, 75, (92, 128, 200), (24, 48, 112)))
    c.fill(sd_circle(42, 73, 11), (255, 255, 255))
    c.fill(sd_circle(42, 73, 9.5), vgrad(63, 83, (70, 200, 80), (10, 120, 30)))
    c.fill(sd_polyline([(37, 73), (41, 77), (47, 68.5)], 2.6), WHITE)
    # Buttons under the captions, each with the key that works it.
    for cx, mark in ((120, "ent"), (240, "down")):
        bx0, bx1 = cx - ox - 40, cx - ox + 37
        by0, by1 = 96, 123
        c.fill(sd_box(bx0 + 0.5, by0 + 0.5, bx1 + 0.5, by1 + 0.5, 5), (70, 84, 120))
        c.fill(sd_box(bx0 + 1.5, by0 + 1.5, bx1 - 0.5, by1 - 0.5, 4), vgrad(by0, by1, (252, 253, 255), (196, 204, 220)))
        if mark == "ent":
            c.fill(sd_box(bx0 + 4.5, by0 + 6.5, bx0 + 19.5, by1 - 5.5, 2), (250, 220, 90))
            xx = bx0 + 6
            for ch in "Ent":
                c.blit_mask(TINY[ch], xx, by0 + 11, (20, 30, 70))
                xx += 4
        else:
            c.fill(sd_box(bx0 + 4.5, by0 + 6.5, bx0 + 16.5, by1 - 5.5, 2), (250, 220, 90))
            c.fill(sd_polygon([(bx0 + 10.5, by0 + 18), (bx0 + 14.5, by0 + 11), (bx0 + 6.5, by0 + 11)]),
                   (20, 30, 70))
    microphone(c, RECORD_MARK_AT[0] - ox, RECORD_MARK_AT[1] - oy, False)
    return keyless(c)


def record_mark():
    """The recording mark: the dialog's own patch with a red, glowing microphone."""
    base = saved_dialog()
    ox, oy = SAVED_DIALOG_AT
    x, y = RECORD_MARK_AT[0] - ox, RECORD_MARK_AT[1] - oy
    c = Canvas(RECORD_MARK_W, RECORD_MARK_H)
    for j in range(RECORD_MARK_H):
        for i in range(RECORD_MARK_W):
            c.px[j][i] = base.px[y + j][x + i]
    # Clear the idle microphone first: redraw the dialog's body there.
    body = vgrad(1 - y, 133 - y, PLATE_HI, PLATE_LO)
    c.rect(0, 0, RECORD_MARK_W, RECORD_MARK_H, body)
    microphone(c, 0, 0, True)
    return keyless(c)


# ---------------------------------------------------------------- the set

MENU_ICONS = [
    ("VIBROMETER", draw_vibrometer),
    ("SPECTRA", draw_spectra),
    ("ROUTE", draw_route),
    ("SPECIAL", draw_special),
    ("ARCHIVE", draw_archive),
    ("SETTINGS", draw_settings),
]
SETTINGS_ICONS = [
    ("MEAS_SETUP", draw_meas_setup),
    ("PARAMETERS", draw_parameters),
    ("VOLUME", draw_volume),
    ("UPDATE", draw_update),
]


def packed_set():
    """(index, name, make) for every picture of the image set that is drawn."""
    items = [
        (0, "SOFTKEY_PLAIN", lambda: key(None)),
        (1, "SOFTKEY_ENT", lambda: key("ent")),
        (2, "SOFTKEY_UP", lambda: key("up")),
        (3, "SOFTKEY_DOWN", lambda: key("down", 23)),
        (4, "SOFTKEY_LEFT", lambda: key("left", 23)),
        (5, "SOFTKEY_RIGHT", lambda: key("right", 23)),
        (6, "VIBRO_PANEL", vibro_panel),
        (8, "ICON_WARNING", warning_icon),
    ]
    for i, (name, draw) in enumerate(MENU_ICONS):
        items.append((9 + 2 * i, "MENU_%s_SEL" % name, (lambda d=draw: icon(d, True))))
        items.append((10 + 2 * i, "MENU_%s" % name, (lambda d=draw: icon(d, False))))
    items.append((31, "MENU_RMS_TABLE_SEL", lambda: icon(draw_rms_table, True)))
    items.append((32, "MENU_RMS_TABLE", lambda: icon(draw_rms_table, False)))
    for i, (name, draw) in enumerate(SETTINGS_ICONS):
        items.append((33 + 2 * i, "MENU_%s_SEL" % name, (lambda d=draw: icon(d, True))))
        items.append((34 + 2 * i, "MENU_%s" % name, (lambda d=draw: icon(d, False))))
    items += [
        (45, "TREE_ICONS", tree_icons),
        (46, "MODE_ICONS", mode_icons),
        (47, "FIELD_MARK_FOCUS", lambda: field_marker(True)),
        (48, "FIELD_MARK", lambda: field_marker(False)),
        (49, "VOLUME_PANEL", volume_panel),
        (50, "OPTION_MID", lambda: option_segment(False, "mid")),
        (51, "OPTION_MID_SEL", lambda: option_segment(True, "mid")),
        (52, "OPTION_JOINT", lambda: option_segment(False, "joint")),
        (53, "OPTION_JOINT_SEL", lambda: option_segment(True, "joint")),
        (54, "OPTION_JOINT_SEL_LEFT", lambda: joint_mixed(True)),
        (55, "OPTION_JOINT_SEL_RIGHT", lambda: joint_mixed(False)),
    ]
    for i, grade in enumerate(GRADE_TONES):
        items.append((56 + i, "DIGITS_%s" % grade, (lambda g=grade: big_digits(g))))
    for i, grade in enumerate(GRADE_TONES):
        items.append((59 + i, "TEMP_DIGITS_%s" % grade, (lambda g=grade: temp_digits(g))))
    items += [
        (62, "TITLE_BAR", title_bar),
        (63, "BOTTOM_BAR", bottom_bar),
        (64, "SOFTKEY_BLANK", blank_key),
        (65, "PLOT_PANEL", plot_panel),
        (66, "VIBRO_RUNNING", lambda: run_indicator(True)),
        (67, "VIBRO_STOPPED", lambda: run_indicator(False)),
        (68, "CAPTION_ACCEL", lambda: quantity_caption(0)),
        (69, "CAPTION_VELOCITY", lambda: quantity_caption(1)),
        (70, "CAPTION_DISPLACEMENT", lambda: quantity_caption(2)),
        (71, "BAR_FRAME", bar_frame),
        (72, "LOGO", logo),
        (73, "SETUP_STRIP_FOCUS", lambda: setup_strip(True)),
        (74, "SETUP_STRIP", lambda: setup_strip(False)),
        (41, "BEARING_DRAWING", bearing_drawing),
        (77, "SHOCK_PANEL", shock_panel),
        (78, "CHOICE_FILLER", lambda: choice_piece("filler")),
    ]
    for level in range(6):
        items.append((79 + level, "BATTERY_%d" % level, (lambda l=level: battery(l))))
    for f in range(5):
        items.append((85 + f, "BATTERY_CHARGING_%d" % f, (lambda l=f: battery(l + 1, True))))
    items += [
        (91, "CHECK_EMPTY", lambda: check_box(False)),
        (92, "CHECK_TICKED", lambda: check_box(True)),
        (93, "RECORD_MARK", record_mark),
        (94, "SAVED_DIALOG", saved_dialog),
    ]
    return items


def joint_mixed(left_highlighted):
    c = Canvas(15, 28, SCREEN_BG)
    left = option_segment(left_highlighted, "mid")
    right = option_segment(not left_highlighted, "mid")
    for y in range(28):
        for x in range(15):
            c.px[y][x] = left.px[y][x] if x < 7 else right.px[y][x]
    c.vline(7, 3, 24, (70, 84, 120))
    return c


UNPACKED = [
    ("img_error_icon", error_icon),
    ("img_choice_left", lambda: choice_piece("left")),
    ("img_choice_left_focus", lambda: choice_piece("left_focus")),
    ("img_choice_right", lambda: choice_piece("right")),
    ("img_option_first", lambda: option_segment(False, "first")),
    ("img_option_first_sel", lambda: option_segment(True, "first")),
    ("img_option_last", lambda: option_segment(False, "last")),
    ("img_option_last_sel", lambda: option_segment(True, "last")),
    ("img_field_mark_plain", lambda: field_marker(False)),
    ("img_slider_mark", slider_mark),
    ("img_battery_none", lambda: battery(0)),
    ("img_battery_charging", lambda: battery(5, True)),
    ("img_battery_full", lambda: battery(5)),
]

IMAGE_COUNT = 95


def layout_header():
    """Names of the cells of the strips, for data/images.h."""
    out = ["// Cells of IMG_MODE_ICONS (status-bar mode icons, drawn at y %d): x of each cell." % MODE_ICON_Y,
           "constexpr int IMG_MODE_ICON_W = %d, IMG_MODE_ICON_H = %d;" % (MODE_ICON_W, MODE_ICON_H),
           "enum ModeIconX : int {"]
    out += ["    IMG_MODE_%s_X = %d," % (name, i * MODE_ICON_W) for i, (_, name) in enumerate(MODE_ICONS)]
    out += ["};", "",
            "// Icons of IMG_TREE_ICONS: icon n is the cell at x = (n - 1) * IMG_TREE_ICON_W;",
            "// icon 1 is drawn with image mode 1 (white is its background), the others with mode 0.",
            "constexpr int IMG_TREE_ICON_W = %d, IMG_TREE_ICON_H = %d;" % (TREE_ICON_W, TREE_ICON_H),
            "enum TreeIconNumber : int {"]
    out += ["    IMG_TREE_%s = %d," % (kind.upper(), i + 1) for i, kind in enumerate(TREE_ICONS)]
    out += ["};", "",
            "// IMG_SETUP_STRIP_FOCUS / IMG_SETUP_STRIP (measurement setup, drawn in image mode 3): rows",
            "// 0 .. RULE_ROW - 1 white (transparent), the rest the rule: RULE_COLOR in the focused strip,",
            "// the background colour in the other.",
            "constexpr int IMG_SETUP_RULE_ROW = %d;" % SETUP_RULE_ROW,
            "constexpr u16 IMG_SETUP_RULE_COLOR = %d;" % rgb565(SETUP_RULE),
            ""]
    for prefix, s, what in (("IMG_DIGITS", BIG_DIGITS, "IMG_DIGITS_GREEN .. RED (large value)"),
                            ("IMG_TEMP_DIGITS", TEMP_DIGITS, "IMG_TEMP_DIGITS_GREEN .. RED (temperature)")):
        out += ["// Cells of %s: digit d at x = d * PITCH, CELL wide (a blank advances CELL);" % what,
                "// the point a POINT x POINT cell at POINT_X, drawn POINT_DROP rows lower; the minus MINUS_W",
                "// wide at MINUS_X; the screen copies (height - 1) rows of the digit and minus cells.",
                "constexpr int %s_PITCH = %d, %s_CELL = %d;" % (prefix, s.pitch, prefix, s.cell),
                "constexpr int %s_POINT_X = %d, %s_POINT = %d, %s_POINT_DROP = %d;"
                % (prefix, s.point_x, prefix, s.point_size, prefix, s.point_y),
                "constexpr int %s_MINUS_X = %d, %s_MINUS_W = %d;" % (prefix, s.minus_x, prefix, s.minus_w)]
    return out


def pack(c):
    px = c.to565()
    raw = b"".join(v.to_bytes(2, "little") for v in px)
    head = bytes([c.h & 255, 0x40 | ((c.h >> 8) & 63), c.w & 255, c.w >> 8])
    return head + zlib.compress(raw, 9)


def c_bytes(data, indent="    "):
    lines = []
    for i in range(0, len(data), 16):
        lines.append(indent + ", ".join("0x%02X" % b for b in data[i:i + 16]) + ",")
    return "\n".join(lines)


def c_words(words, indent="    "):
    lines = []
    for i in range(0, len(words), 12):
        lines.append(indent + ", ".join("%d" % w for w in words[i:i + 12]) + ",")
    return "\n".join(lines)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    items = packed_set()
    made = [(idx, name, make()) for idx, name, make in items]
    dims = [(c.w, c.h) for _, _, c in made]
    header = [
        "// Generated by tools/make_images.py: do not edit.",
        "#pragma once",
        '#include "base/types.h"',
        "",
        "// Indices of the image set.",
        "enum ImageIndex : int {",
    ]
    for idx, name, _ in items:
        header.append("    IMG_%s = %d," % (name, idx))
    header += ["};", "", "constexpr int IMAGE_COUNT = %d;" % IMAGE_COUNT, "",
               "// Packed sources by index (nullptr where no picture exists) and their sizes.",
               "extern const u8* const image_packed[IMAGE_COUNT];",
               "extern const u32 image_packed_size[IMAGE_COUNT];",
               "// Width and height of every entry (0 where none).",
               "extern const u16 image_set_width[IMAGE_COUNT];",
               "extern const u16 image_set_height[IMAGE_COUNT];",
               "// 16-bit words of all unpacked pictures of the set, header words included.",
               "constexpr u32 IMAGE_SET_WORDS = %d;" % sum(4 + mk_w * mk_h for mk_w, mk_h in dims),
               ""] + layout_header() + ["", "// Pictures stored unpacked: header words, then pixels."]
    for name, make in UNPACKED:
        header.append("extern const u16 %s[];" % name)
    src = ["// Generated by tools/make_images.py: do not edit.",
           '#include "data/images.h"', ""]
    widths = [0] * IMAGE_COUNT
    heights = [0] * IMAGE_COUNT
    sizes = [0] * IMAGE_COUNT
    names = [None] * IMAGE_COUNT
    for idx, name, c in made:
        data = pack(c)
        widths[idx], heights[idx], sizes[idx], names[idx] = c.w, c.h, len(data), name
        src.append("// %d: %s, %d x %d" % (idx, name, c.w, c.h))
        src.append("static const u8 packed_%d[] = {" % idx)
        src.append(c_bytes(data))
        src.append("};")
        src.append("")
    src.append("const u8* const image_packed[IMAGE_COUNT] = {")
    src.append(",\n".join("    %s" % ("packed_%d" % i if names[i] else "nullptr") for i in range(IMAGE_COUNT)))
    src.append("};")
    src.append("const u32 image_packed_size[IMAGE_COUNT] = {")
    src.append(c_words(sizes))
    src.append("};")
    src.append("const u16 image_set_width[IMAGE_COUNT] = {")
    src.append(c_words(widths))
    src.append("};")
    src.append("const u16 image_set_height[IMAGE_COUNT] = {")
    src.append(c_words(heights))
    src.append("};")
    src.append("")
    for name, make in UNPACKED:
        c = make()
        words = [c.h & 255, (c.h >> 8) & 15, c.w & 255, c.w >> 8] + c.to565()
        src.append("// %d x %d" % (c.w, c.h))
        src.append("const u16 %s[] = {" % name)
        src.append(c_words(words))
        src.append("};")
        src.append("")
    with open(os.path.join(root, "data", "images.h"), "w") as f:
        f.write("\n".join(header) + "\n")
    with open(os.path.join(root, "data", "images.cpp"), "w") as f:
        f.write("\n".join(src))
    print("wrote %d packed and %d unpacked pictures" % (len(items), len(UNPACKED)))


if __name__ == "__main__":
    main()
