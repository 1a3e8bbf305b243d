#!/usr/bin/env python3
"""Generates data/bearing_table.cpp: the built-in bearing catalogue.

The catalogue is a zlib stream of 60-byte BearingRecord rows sorted by name.
Every input is a public boundary-dimension fact (bore codes and the outer
diameters of the ISO diameter series) or a rule written down below; nothing
is taken from a manufacturer's data sheet except the few ball sets in
KNOWN_BALL_SETS. See data/BEARINGS.md for the rules in prose.

Usage: tools/make_bearing_table.py [output.cpp]   (default data/bearing_table.cpp)
The output is deterministic: running it again gives the same file.
"""

import decimal
import math
import os
import struct
import sys
import zlib

RECORD = struct.Struct("<24sfffIfffff")  # name, bore, outer, element_diameter, elements, contact_angle, ftf, bpfo, bpfi, bsf
assert RECORD.size == 60
TARGET_COUNT = 5586
NAME_MAX = 23

# Bore codes and the bore they stand for, mm (04 and above: 5 x code; /500 written out).
# Codes in use: 00-22 one by one, 24-40 in steps of 2, 44-96 in steps of 4.
_STEPS = list(range(4, 23)) + list(range(24, 41, 2)) + list(range(44, 97, 4))
BORES = {"00": 10, "01": 12, "02": 15, "03": 17}
for c in _STEPS:
    BORES["%02d" % c] = 5 * c
BORES["/500"] = 500

# Outer diameters, mm, by ISO diameter series for radial bearings.  Every
# radial bearing of one diameter series has the same outer diameter for a
# given bore, whatever its type (ball, roller, tapered).
def _table(codes, values):
    assert len(codes) == len(values)
    return dict(zip(codes, values))

_ALL = list(BORES)
OUTER = {
    "8": _table(_ALL, [19, 21, 24, 26, 32, 37, 42, 47, 52, 58, 65, 72, 78, 85, 90, 95, 100, 110, 115, 120, 125, 130, 140,
                       150, 165, 175, 190, 200, 215, 225, 240, 250, 270, 300, 320, 350, 380, 400, 420, 440, 480, 500, 520,
                       540, 580, 600, 620]),
    "9": _table(_ALL, [22, 24, 28, 30, 37, 42, 47, 55, 62, 68, 72, 80, 85, 90, 100, 105, 110, 120, 125, 130, 140, 145, 150,
                       165, 180, 190, 210, 220, 230, 250, 260, 280, 300, 320, 360, 380, 420, 440, 460, 480, 520, 540, 560,
                       600, 620, 650, 670]),
    "0": _table(_ALL, [26, 28, 32, 35, 42, 47, 55, 62, 68, 75, 80, 90, 95, 100, 110, 115, 125, 130, 140, 145, 150, 160, 170,
                       180, 200, 210, 225, 240, 260, 280, 290, 310, 340, 360, 400, 420, 460, 480, 520, 540, 560, 600, 620,
                       650, 680, 700, 720]),
    "1": _table(_ALL[8:], [75, 80, 85, 95, 100, 110, 120, 125, 130, 140, 150, 160, 165, 175, 180, 200, 210, 225, 250, 270,
                           280, 300, 320, 340, 370, 400, 440, 460, 500, 540, 580, 600, 620, 650, 700, 720, 760, 790, 830]),
    "2": _table(_ALL, [30, 32, 35, 40, 47, 52, 62, 72, 80, 85, 90, 100, 110, 120, 125, 130, 140, 150, 160, 170, 180, 190,
                       200, 215, 230, 250, 270, 290, 310, 320, 340, 360, 400, 440, 480, 500, 540, 580, 620, 650, 680, 720,
                       760, 790, 830, 870, 920]),
    "3": _table(_ALL[:39], [35, 37, 42, 47, 52, 62, 72, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200, 215,
                            225, 240, 260, 280, 300, 320, 340, 360, 380, 400, 420, 460, 500, 540, 580, 620, 670, 710]),
    "4": _table(_ALL[3:31], [62, 72, 80, 90, 100, 110, 120, 130, 140, 150, 160, 180, 190, 200, 210, 225, 240, 250, 260,
                             280, 310, 340, 360, 380, 400, 420, 440, 460]),
}
# Thrust bearings have diameter series of their own (the shaft washer bore is d).
THRUST_CODES = [c for c in _ALL if c not in ("19", "21")]
OUTER_THRUST = {
    "1": _table(THRUST_CODES[:36], [24, 26, 28, 30, 35, 42, 47, 52, 60, 65, 70, 78, 85, 90, 95, 100, 105, 110, 120, 135,
                                    145, 155, 170, 180, 190, 200, 215, 225, 240, 250, 270, 300, 320, 350, 380, 400]),
    "2": _table(THRUST_CODES[:32], [26, 28, 32, 35, 40, 47, 52, 62, 68, 73, 78, 90, 95, 100, 105, 110, 115, 125, 135, 150,
                                    160, 170, 190, 200, 215, 225, 240, 250, 270, 280, 300, 340]),
    "3": _table(THRUST_CODES[5:31], [52, 60, 68, 78, 85, 95, 105, 110, 115, 125, 135, 140, 150, 155, 170, 190, 210, 225,
                                     240, 250, 270, 280, 300, 320, 340, 360]),
    "4": _table(THRUST_CODES[5:30], [60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 210, 230, 250, 270,
                                     280, 300, 320, 340, 360, 380, 400]),
}

INCH_32 = 25.4 / 32  # balls come in steps of 1/32 inch


def round_to(x, step):
    return math.floor(x / step + 0.5) * step


# Ball sets of a few very common bearings, as published: (balls, ball diameter mm).
KNOWN_BALL_SETS = {
    ("60", "00"): (7, 4.7625),
    ("62", "04"): (8, 7.9375),
    ("62", "05"): (9, 7.9375),
    ("62", "06"): (9, 9.525),
    ("62", "07"): (9, 11.1125),
    ("62", "08"): (9, 12.7),
}


class Geometry:
    """One physical bearing: its dimensions, rolling elements and factors."""

    def __init__(self, d, D, bd, z, angle, factors_only=False):
        self.d, self.D, self.bd, self.z, self.angle = d, D, bd, z, angle
        pd = (d + D) / 2
        k = bd / pd * math.cos(math.radians(angle))
        self.ftf = (1 - k) / 2
        self.bpfo = z / 2 * (1 - k)
        self.bpfi = z / 2 * (1 + k)
        self.bsf = pd / (2 * bd) * (1 - k * k)
        self.factors_only = factors_only

    def pack(self, name):
        # Half away from zero at two decimals, on the value as written in
        # decimal (so 9.525 gives 9.53 whatever its binary neighbour).
        r2 = lambda v: float(decimal.Decimal(repr(round(v, 9))).quantize(decimal.Decimal("0.01"), decimal.ROUND_HALF_UP))
        if self.factors_only:
            dims = (0.0, 0.0, 0.0, 0, 0.0)
        else:
            dims = (float(self.d), float(self.D), r2(self.bd), self.z, float(self.angle))
        raw = name.encode("ascii")
        assert 0 < len(raw) <= NAME_MAX, name
        return RECORD.pack(raw, *dims, r2(self.ftf), r2(self.bpfo), r2(self.bpfi), r2(self.bsf))


def balls_by_filling_angle(pd, bd, filling_deg):
    """Largest ball count whose balls fit into the filling angle: the first ball
    plus one for every ball pitch angle 2 asin(Bd / Pd) that fits."""
    pitch = math.degrees(2 * math.asin(bd / pd))
    return int(filling_deg // pitch) + 1


def ball_geometry(series, code, d, D, angle, share, filling, rows=1):
    if (series, code) in KNOWN_BALL_SETS:
        z, bd = KNOWN_BALL_SETS[(series, code)]
    else:
        bd = max(INCH_32, round_to(share * (D - d), INCH_32))
        z = balls_by_filling_angle((d + D) / 2, bd, filling)
    return Geometry(d, D, bd, z, angle, factors_only=rows > 1)


def roller_geometry(d, D, angle, share, spacing, rows=1):
    bd = max(1.0, round_to(share * (D - d), 0.5))
    z = int(math.pi * (d + D) / 2 // (spacing * bd))
    return Geometry(d, D, bd, z, angle, factors_only=rows > 1)


def thrust_geometry(d, D):
    bd = max(INCH_32, round_to(0.55 * (D - d) / 2, INCH_32))
    z = int(math.pi * (d + D) / 2 // (1.15 * bd))
    return Geometry(d, D, bd, z, 90)


# ---------------------------------------------------------------------------
# The series.  Each entry makes (names, geometry) pairs; a name is ISO or GOST.

entries = []      # (name, Geometry, kind) kind: "iso" or "gost"
fill_pool = []    # clearance variants, added in order until the target count


def add(name, geo, kind="iso"):
    entries.append((name, geo, kind))


def gost_number(width, construction, typ, series, code):
    """GOST 3189 basic number: width series, construction (2 digits), type,
    diameter series, bore code; leading zeros dropped."""
    if code == "/500":
        return None
    digits = "%d%02d%d%d%s" % (width, construction, typ, series, code)
    return digits.lstrip("0") or "0"


# Deep-groove ball bearings. ISO series -> (diameter series, GOST width, GOST diameter-series digit,
# largest bore listed).
DEEP_GROOVE = [("618", "8", 1, 8, 500), ("619", "9", 1, 9, 500), ("160", "0", 7, 1, 500), ("60", "0", 0, 1, 500),
               ("62", "2", 0, 2, 300), ("63", "3", 0, 3, 200), ("64", "4", 0, 4, 110)]
ISO_DG_VARIANTS = ["", "-Z", "-2Z", "-RS", "-2RS"]
GOST_DG_VARIANTS = [0, 6, 8, 16, 18]  # open, shield, 2 shields, seal, 2 seals
# Clearance variants (/C3) fill the catalogue up to its 5,586 rows: series in
# this order, bores ascending within a series, each bore with its open, -2Z
# and -2RS designation.
FILL_ORDER = ["62", "63", "60", "64", "160", "619", "618"]
for iso, dia, width, gdia, d_max in DEEP_GROOVE:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if d > d_max:
            continue
        geo = ball_geometry(iso, code, d, D, 0, 0.3, 200)
        base = iso + code
        for v in ISO_DG_VARIANTS if width == 0 else ["", "-2Z", "-2RS"]:
            if code == "/500" and v:
                continue
            add(base + v, geo)
        for c in GOST_DG_VARIANTS:
            if width and c not in (0, 8, 18):  # thin-section GOST numbers: open, 2 shields, 2 seals
                continue
            n = gost_number(width, c, 0, gdia, code)
            if n:
                add(n, geo, "gost")
        for v in ["", "-2Z", "-2RS"]:
            if code != "/500":
                fill_pool.append((FILL_ORDER.index(iso), d, base + v + "/C3", geo))

# Self-aligning ball bearings (two rows): ISO series -> (diameter series, angle, GOST series digit).
for iso, dia, angle, gdia in [("12", "2", 12, 2), ("13", "3", 13, 3), ("22", "2", 22, 5), ("23", "3", 24, 6)]:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if d > 110 or code == "/500":
            continue
        geo = ball_geometry(iso, code, d, D, angle, 0.22, 200, rows=2)
        base = iso + code
        for v in ["", "K", "E", "EK", "-2RS"] if iso[0] == "2" else ["", "K", "E", "EK"]:
            add(base + v, geo)
        add(gost_number(0, 0, 1, gdia, code), geo, "gost")
        add(gost_number(0, 11, 1, gdia, code), geo, "gost")  # tapered bore

# Angular-contact ball bearings: ISO suffix -> contact angle; GOST construction -> angle.
for iso, dia, gdia in [("72", "2", 2), ("73", "3", 3)]:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if d > 240 or code == "/500":
            continue
        for suffix, angle in [("B", 40), ("AC", 25), ("C", 15)]:
            add(iso + code + suffix, ball_geometry(iso, code, d, D, angle, 0.3, 240))
        for construction, angle in [(3, 12), (4, 26), (6, 36)]:
            geo = ball_geometry(iso, code, d, D, angle, 0.3, 240)
            add(gost_number(0, construction, 6, gdia, code), geo, "gost")
# The older ISO designation of the 40-degree 7206, without its suffix, is kept
# as the one name of the catalogue that stands for two different bearings
# (it is also the GOST number of the tapered roller bearing 30206).
add("7206", ball_geometry("72", "06", 30, 62, 40, 0.3, 240), "iso-twin")

# Cylindrical roller bearings: ISO type -> GOST construction digit.
CYL_TYPES = [("N", 0), ("NU", 3), ("NJ", 4), ("NUP", 9)]
for series, dia, gdia in [("2", "2", 2), ("3", "3", 3), ("22", "2", 5), ("23", "3", 6), ("10", "0", 1)]:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if d < 20 or d > 160:
            continue
        geo = roller_geometry(d, D, 0, 0.25, 1.3)
        for typ, construction in CYL_TYPES:
            base = typ + series + code
            for v in ["", "E"] if typ in ("NU", "NJ") else [""]:
                add(base + v, geo)
            add(gost_number(0, construction, 2, gdia, code), geo, "gost")

# Spherical roller bearings (two rows): ISO series -> (diameter series, angle, bores from..to, GOST series digit).
for iso, dia, angle, d_min, d_max, gdia in [("222", "2", 10, 25, 320, 5), ("223", "3", 12, 40, 340, 6),
                                            ("230", "0", 9, 100, 500, None), ("231", "1", 12, 100, 500, None),
                                            ("232", "2", 13, 100, 500, None), ("213", "3", 11, 20, 110, None)]:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if not d_min <= d <= d_max:
            continue
        geo = roller_geometry(d, D, angle, 0.2, 1.2, rows=2)
        base = iso + code
        for v in ["", "K"]:
            add(base + v, geo)
        if gdia:
            for construction in (0, 5, 11):  # plain, lubrication groove, tapered bore
                add(gost_number(0, construction, 3, gdia, code), geo, "gost")

# Tapered roller bearings: ISO series -> (diameter series, angle, GOST number prefix or None).
for iso, dia, angle, gprefix in [("302", "2", 14, "72"), ("303", "3", 12, "73"), ("320", "0", 16, "20071"),
                                 ("322", "2", 14, "75"), ("323", "3", 12, "76"), ("329", "9", 12, "20079"),
                                 ("330", "0", 11, None), ("331", "1", 14, None), ("332", "2", 15, None)]:
    for code, D in OUTER[dia].items():
        d = BORES[code]
        if d < 15 or d > 200:
            continue
        geo = roller_geometry(d, D, angle, 0.22, 1.2)
        base = iso + code
        for v in ["", "X"] if iso == "320" else [""]:
            add(base + v, geo)
        if gprefix:
            add(gprefix + code, geo, "gost")

# Thrust ball bearings: ISO 511..514 -> GOST 81..84.
for dia in ["1", "2", "3", "4"]:
    for code, D in OUTER_THRUST[dia].items():
        d = BORES[code]
        geo = thrust_geometry(d, D)
        add("51" + dia + code, geo)
        add("8" + dia + code, geo, "gost")

# ---------------------------------------------------------------------------
# Names: a name given twice for the same bearing is kept once; a GOST number
# that is also the ISO designation of another bearing is left out; the 7206
# above is the single name kept for two bearings on purpose.

def build():
    rows = {}
    for name, geo, kind in entries:
        key = name
        if key in rows:
            other_geo, other_kind = rows[key][0]
            if other_geo is geo or vars(other_geo) == vars(geo):
                continue
            if "iso-twin" in (kind, other_kind):
                rows[key].append((geo, kind))
                continue
            if kind == "gost" and other_kind != "gost":
                continue
            if other_kind == "gost" and kind != "gost":
                rows[key] = [(geo, kind)]
                continue
            raise SystemExit("name %s stands for two bearings" % name)
        rows[key] = [(geo, kind)]
    count = sum(len(v) for v in rows.values())
    print("named rows before the clearance variants: %d" % count)
    for _, _, name, geo in sorted(fill_pool, key=lambda f: f[:2]):
        if count >= TARGET_COUNT:
            break
        assert name not in rows, name
        rows[name] = [(geo, "iso")]
        count += 1
    if count != TARGET_COUNT:
        raise SystemExit("catalogue holds %d rows, not %d" % (count, TARGET_COUNT))
    twins = [n for n, v in rows.items() if len(v) > 1]
    assert twins == ["7206"], twins
    records = []
    for name in sorted(rows, key=lambda n: n.encode("ascii")):
        for geo, _ in rows[name]:
            records.append(geo.pack(name))
    return b"".join(records)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "bearing_table.cpp")
    table = build()
    packed = zlib.compress(table, 9)
    assert zlib.decompress(packed) == table
    lines = [
        "// Generated by tools/make_bearing_table.py; do not edit. The built-in bearing",
        "// catalogue: %d records of 60 bytes (%d bytes) as one zlib stream." % (len(table) // 60, len(table)),
        '#include "data/bearing_table.h"',
        "",
        "const u8 BEARING_TABLE_PACKED[] = {",
    ]
    for i in range(0, len(packed), 20):
        lines.append("    " + ",".join("%d" % b for b in packed[i:i + 20]) + ",")
    lines.append("};")
    lines.append("const u32 BEARING_TABLE_PACKED_SIZE = sizeof BEARING_TABLE_PACKED;")
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("%s: %d records, %d bytes unpacked, %d packed" % (out, len(table) // 60, len(table), len(packed)))


if __name__ == "__main__":
    main()
