#!/usr/bin/env python3
"""Generates the instrument's pictures: data/images.cpp and data/images.h.

Every picture is drawn here procedurally (tools/imagelib.py), converted to
RGB565 and stored in the packed form of the image set: a 4-byte header
(height low byte, 0x40 | height bits 8-13, width low byte, width high byte)
followed by a zlib stream of the pixels, row by row, little-endian. A few
small pictures are stored unpacked: four 16-bit header words, then pixels.

Run from the repository root:  python3 tools/make_images.py
To add a picture: write a function that returns a Canvas of the right size
and list it in PACKED (by image-set index) or UNPACKED below.
"""
import math
import os
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imagelib import (Canvas, from565, rgb565, sd_arc, sd_box, sd_circle, sd_polygon,  # noqa: E402
                      sd_polyline, sd_segment, sd_subtract, vgrad)

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
        (47, "FIELD_MARK_FOCUS", lambda: field_marker(True)),
        (48, "FIELD_MARK", lambda: field_marker(False)),
        (49, "VOLUME_PANEL", volume_panel),
        (50, "OPTION_MID", lambda: option_segment(False, "mid")),
        (51, "OPTION_MID_SEL", lambda: option_segment(True, "mid")),
        (52, "OPTION_JOINT", lambda: option_segment(False, "joint")),
        (53, "OPTION_JOINT_SEL", lambda: option_segment(True, "joint")),
        (54, "OPTION_JOINT_SEL_LEFT", lambda: joint_mixed(True)),
        (55, "OPTION_JOINT_SEL_RIGHT", lambda: joint_mixed(False)),
        (62, "TITLE_BAR", title_bar),
        (63, "BOTTOM_BAR", bottom_bar),
        (64, "SOFTKEY_BLANK", blank_key),
        (72, "LOGO", logo),
        (78, "CHOICE_FILLER", lambda: choice_piece("filler")),
    ]
    for level in range(6):
        items.append((79 + level, "BATTERY_%d" % level, (lambda l=level: battery(l))))
    for f in range(5):
        items.append((85 + f, "BATTERY_CHARGING_%d" % f, (lambda l=f: battery(l + 1, True))))
    items += [
        (91, "CHECK_EMPTY", lambda: check_box(False)),
        (92, "CHECK_TICKED", lambda: check_box(True)),
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
               "constexpr u32 IMAGE_SET_WORDS = %d;" % sum(4 + mk_w * mk_h for mk_w, mk_h in dims), "",
               "// Pictures stored unpacked: header words, then pixels."]
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
