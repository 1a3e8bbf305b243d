"""Reader for X11 PCF bitmap fonts (plain or gzip-compressed)."""
import gzip
import struct

PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_PROPERTIES = 1 << 0
PCF_BDF_ACCELERATORS = 1 << 8
PCF_ACCELERATORS = 1 << 1


class Glyph:
    """One glyph: rows of '0'/'1' strings covering its ink box."""

    def __init__(self, lsb, rsb, width, ascent, descent, rows):
        self.lsb, self.rsb, self.width = lsb, rsb, width
        self.ascent, self.descent = ascent, descent
        self.rows = rows  # list of lists of 0/1, height ascent+descent, width rsb-lsb


class Font:
    def __init__(self, path):
        data = open(path, 'rb').read()
        if path.endswith('.gz'):
            data = gzip.decompress(data)
        if data[:4] != b'\x01fcp':
            raise ValueError(path + ': not a PCF font')
        (count,) = struct.unpack_from('<i', data, 4)
        self.tables = {}
        for i in range(count):
            t, fmt, size, off = struct.unpack_from('<iiii', data, 8 + 16 * i)
            self.tables[t] = (fmt, size, off)
        self.data = data
        self.metrics = self._read_metrics()
        self.bitmaps = self._read_bitmaps()
        self.encoding = self._read_encodings()
        self.font_ascent, self.font_descent = self._read_accel()

    def _table(self, t):
        fmt, size, off = self.tables[t]
        (fmt2,) = struct.unpack_from('<i', self.data, off)
        big = bool(fmt2 & 4)
        return fmt2, off + 4, ('>' if big else '<')

    def _read_metrics(self):
        fmt, p, e = self._table(PCF_METRICS)
        out = []
        if fmt & 0x100:  # compressed
            (n,) = struct.unpack_from(e + 'h', self.data, p)
            p += 2
            for i in range(n):
                b = self.data[p + 5 * i:p + 5 * i + 5]
                out.append(tuple(x - 0x80 for x in b))
        else:
            (n,) = struct.unpack_from(e + 'i', self.data, p)
            p += 4
            for i in range(n):
                out.append(struct.unpack_from(e + 'hhhhh', self.data, p + 12 * i))
        return out  # (lsb, rsb, width, ascent, descent)

    def _read_bitmaps(self):
        fmt, p, e = self._table(PCF_BITMAPS)
        (n,) = struct.unpack_from(e + 'i', self.data, p)
        p += 4
        offsets = struct.unpack_from(e + '%di' % n, self.data, p)
        p += 4 * n
        sizes = struct.unpack_from(e + '4i', self.data, p)
        p += 16
        pad = 1 << (fmt & 3)
        msbit = bool(fmt & 8)
        msbyte = bool(fmt & 4)
        unit = 1 << ((fmt >> 4) & 3)
        blob = self.data[p:p + sizes[fmt & 3]]
        out = []
        for i in range(n):
            lsb, rsb, width, asc, desc = self.metrics[i]
            w, h = rsb - lsb, asc + desc
            stride = ((w + 7) // 8 + pad - 1) // pad * pad
            rows = []
            for r in range(h):
                raw = bytearray(blob[offsets[i] + r * stride:offsets[i] + (r + 1) * stride])
                if msbit != msbyte and unit > 1:
                    for k in range(0, len(raw), unit):
                        raw[k:k + unit] = raw[k:k + unit][::-1]
                bits = []
                for c in range(w):
                    byte = raw[c // 8]
                    bit = (byte >> (7 - c % 8)) & 1 if msbit else (byte >> (c % 8)) & 1
                    bits.append(bit)
                rows.append(bits)
            out.append(rows)
        return out

    def _read_encodings(self):
        fmt, p, e = self._table(PCF_BDF_ENCODINGS)
        min2, max2, min1, max1, default = struct.unpack_from(e + '5h', self.data, p)
        p += 10
        n = (max2 - min2 + 1) * (max1 - min1 + 1)
        idx = struct.unpack_from(e + '%dH' % n, self.data, p)
        enc = {}
        for b1 in range(min1, max1 + 1):
            for b2 in range(min2, max2 + 1):
                g = idx[(b1 - min1) * (max2 - min2 + 1) + (b2 - min2)]
                if g != 0xFFFF:
                    enc[(b1 << 8) | b2] = g
        return enc

    def _read_accel(self):
        t = PCF_BDF_ACCELERATORS if PCF_BDF_ACCELERATORS in self.tables else PCF_ACCELERATORS
        fmt, p, e = self._table(t)
        asc, desc = struct.unpack_from(e + 'ii', self.data, p + 8)
        return asc, desc

    def glyph(self, code):
        """The glyph for a code point of the font's encoding, or None."""
        g = self.encoding.get(code)
        if g is None:
            return None
        lsb, rsb, width, asc, desc = self.metrics[g]
        return Glyph(lsb, rsb, width, asc, desc, self.bitmaps[g])
