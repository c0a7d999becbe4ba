#!/usr/bin/env python3
"""Draws data/skin/lvBack.bmp, the picture an empty file list shows.

Plain Python: shapes and DejaVu Sans glyphs (read from the installed font
file) are filled with 4x4 supersampling and written as a 24-bit BMP.

    scripts/make-skin.py [OUTPUT]      # default: data/skin/lvBack.bmp
"""

import os
import struct
import sys

WIDTH, HEIGHT = 300, 120
SS = 4  # samples per pixel along each axis
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

WHITE = (255, 255, 255)
FRAME = (196, 210, 230)
FRAME_FILL = (238, 243, 250)
HOLES = (255, 255, 255)
ACCENT = (150, 178, 216)
TEXT = (132, 144, 162)
SMALL_TEXT = (160, 170, 184)


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [list(background) for _ in range(width * height)]

    def fill(self, contours, colour):
        """Fills closed polygons (in pixel units) with the non-zero rule."""
        edges = []
        for points in contours:
            for i in range(len(points)):
                (x0, y0), (x1, y1) = points[i], points[(i + 1) % len(points)]
                if y0 != y1:
                    edges.append((x0 * SS, y0 * SS, x1 * SS, y1 * SS))
        if not edges:
            return
        top = max(0, int(min(min(e[1], e[3]) for e in edges)))
        bottom = min(self.height * SS, int(max(max(e[1], e[3]) for e in edges)) + 1)
        coverage = {}
        for sy in range(top, bottom):
            y = sy + 0.5
            crossings = []
            for x0, y0, x1, y1 in edges:
                if (y0 <= y < y1) or (y1 <= y < y0):
                    x = x0 + (y - y0) * (x1 - x0) / (y1 - y0)
                    crossings.append((x, 1 if y1 > y0 else -1))
            crossings.sort()
            winding = 0
            for i, (x, direction) in enumerate(crossings):
                was_inside = winding != 0
                winding += direction
                if not was_inside and winding != 0:
                    start = x
                elif was_inside and winding == 0:
                    first = max(0, int(start + 0.5))
                    last = min(self.width * SS, int(x + 0.5))
                    for sx in range(first, last):
                        key = (sx // SS, sy // SS)
                        coverage[key] = coverage.get(key, 0) + 1
        full = SS * SS
        for (px, py), count in coverage.items():
            alpha = min(count, full) / full
            pixel = self.pixels[py * self.width + px]
            for c in range(3):
                pixel[c] = round(pixel[c] * (1 - alpha) + colour[c] * alpha)

    def write_bmp(self, path):
        stride = (self.width * 3 + 3) & ~3
        size = 54 + stride * self.height
        with open(path, "wb") as out:
            out.write(b"BM" + struct.pack("<IHHI", size, 0, 0, 54))
            out.write(struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0,
                                  stride * self.height, 2835, 2835, 0, 0))
            for y in range(self.height - 1, -1, -1):
                row = bytearray()
                for x in range(self.width):
                    r, g, b = self.pixels[y * self.width + x]
                    row += bytes((b, g, r))
                row += b"\0" * (stride - len(row))
                out.write(row)


def rounded_rect(x, y, w, h, r, steps=8):
    import math
    points = []
    corners = [(x + w - r, y + r, -90), (x + w - r, y + h - r, 0), (x + r, y + h - r, 90), (x + r, y + r, 180)]
    for cx, cy, start in corners:
        for i in range(steps + 1):
            a = math.radians(start + 90 * i / steps)
            points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return points


def ring(cx, cy, r, steps=48):
    import math
    return [(cx + r * math.cos(2 * math.pi * i / steps), cy + r * math.sin(2 * math.pi * i / steps))
            for i in range(steps)]


class Font:
    """The few parts of a TrueType file needed to outline simple glyphs."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        count = struct.unpack(">H", self.data[4:6])[0]
        self.tables = {}
        for i in range(count):
            tag, _, offset, length = struct.unpack(">4sIII", self.data[12 + 16 * i:28 + 16 * i])
            self.tables[tag.decode()] = offset
        head = self.tables["head"]
        self.units = struct.unpack(">H", self.data[head + 18:head + 20])[0]
        self.long_loca = struct.unpack(">h", self.data[head + 50:head + 52])[0] == 1
        hhea = self.tables["hhea"]
        self.metrics = struct.unpack(">H", self.data[hhea + 34:hhea + 36])[0]
        self.cmap = self._read_cmap()

    def _u16(self, at):
        return struct.unpack(">H", self.data[at:at + 2])[0]

    def _i16(self, at):
        return struct.unpack(">h", self.data[at:at + 2])[0]

    def _read_cmap(self):
        base = self.tables["cmap"]
        for i in range(self._u16(base + 2)):
            platform, encoding, offset = struct.unpack(">HHI", self.data[base + 4 + 8 * i:base + 12 + 8 * i])
            sub = base + offset
            if platform == 3 and encoding == 1 and self._u16(sub) == 4:
                segs = self._u16(sub + 6) // 2
                ends = sub + 14
                starts = ends + 2 * segs + 2
                deltas = starts + 2 * segs
                ranges = deltas + 2 * segs
                table = {}
                for s in range(segs):
                    end, start = self._u16(ends + 2 * s), self._u16(starts + 2 * s)
                    delta, rng = self._u16(deltas + 2 * s), self._u16(ranges + 2 * s)
                    for code in range(start, min(end, 0x7F) + 1):
                        if rng == 0:
                            glyph = (code + delta) & 0xFFFF
                        else:
                            glyph = self._u16(ranges + 2 * s + rng + 2 * (code - start))
                            glyph = (glyph + delta) & 0xFFFF if glyph else 0
                        table[chr(code)] = glyph
                return table
        raise ValueError("no Unicode character map")

    def advance(self, glyph):
        index = min(glyph, self.metrics - 1)
        return self._u16(self.tables["hmtx"] + 4 * index)

    def _glyph_offset(self, glyph):
        loca = self.tables["loca"]
        if self.long_loca:
            a, b = struct.unpack(">II", self.data[loca + 4 * glyph:loca + 4 * glyph + 8])
        else:
            a, b = (2 * v for v in struct.unpack(">HH", self.data[loca + 2 * glyph:loca + 2 * glyph + 4]))
        return self.tables["glyf"] + a, b - a

    def contours(self, glyph):
        """Closed outlines in font units, quadratic curves flattened."""
        at, length = self._glyph_offset(glyph)
        if length == 0:
            return []
        count = self._i16(at)
        if count < 0:
            return self._composite(at)
        ends = [self._u16(at + 10 + 2 * i) for i in range(count)]
        points = ends[-1] + 1 if ends else 0
        at += 10 + 2 * count
        at += 2 + self._u16(at)
        flags = []
        while len(flags) < points:
            flag = self.data[at]
            at += 1
            flags.append(flag)
            if flag & 8:
                flags.extend([flag] * self.data[at])
                at += 1
        coords = []
        for short, same in ((2, 16), (4, 32)):
            value, values = 0, []
            for flag in flags:
                if flag & short:
                    step = self.data[at]
                    at += 1
                    value += step if flag & same else -step
                elif not flag & same:
                    value += self._i16(at)
                    at += 2
                values.append(value)
            coords.append(values)
        outlines, start = [], 0
        for end in ends:
            pts = [(coords[0][i], coords[1][i], bool(flags[i] & 1)) for i in range(start, end + 1)]
            outlines.append(self._flatten(pts))
            start = end + 1
        return outlines

    def _composite(self, at):
        at += 10
        outlines = []
        while True:
            flags, glyph = struct.unpack(">HH", self.data[at:at + 4])
            at += 4
            if flags & 1:
                dx, dy = self._i16(at), self._i16(at + 2)
                at += 4
            else:
                dx, dy = struct.unpack(">bb", self.data[at:at + 2])
                at += 2
            at += 2 if flags & 8 else 4 if flags & 0x40 else 8 if flags & 0x80 else 0
            for outline in self.contours(glyph):
                outlines.append([(x + dx, y + dy) for x, y in outline])
            if not flags & 0x20:
                return outlines

    @staticmethod
    def _flatten(pts):
        # Insert the implied on-curve points between two off-curve ones.
        full = []
        for i, (x, y, on) in enumerate(pts):
            nx, ny, non = pts[(i + 1) % len(pts)]
            full.append((x, y, on))
            if not on and not non:
                full.append(((x + nx) / 2, (y + ny) / 2, True))
        first = next(i for i, p in enumerate(full) if p[2])
        full = full[first:] + full[:first]
        result = [(full[0][0], full[0][1])]
        i = 1
        while i <= len(full):
            x, y, on = full[i % len(full)]
            if on:
                result.append((x, y))
                i += 1
            else:
                ex, ey, _ = full[(i + 1) % len(full)]
                sx, sy = result[-1]
                for step in range(1, 7):
                    t = step / 6
                    result.append(((1 - t) ** 2 * sx + 2 * (1 - t) * t * x + t * t * ex,
                                   (1 - t) ** 2 * sy + 2 * (1 - t) * t * y + t * t * ey))
                i += 2
        return result[:-1]

    def text_width(self, text, size):
        return sum(self.advance(self.cmap.get(c, 0)) for c in text) * size / self.units

    def draw(self, canvas, text, x, baseline, size, colour):
        scale = size / self.units
        outlines = []
        for c in text:
            glyph = self.cmap.get(c, 0)
            for outline in self.contours(glyph):
                outlines.append([(x + px * scale, baseline - py * scale) for px, py in outline])
            x += self.advance(glyph) * scale
        canvas.fill(outlines, colour)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "skin", "lvBack.bmp")
    canvas = Canvas(WIDTH, HEIGHT, WHITE)

    # A film frame with perforations and a play mark, and a "+" badge.
    fx, fy, fw, fh = 124, 12, 52, 42
    canvas.fill([rounded_rect(fx, fy, fw, fh, 6)], FRAME)
    canvas.fill([rounded_rect(fx + 2, fy + 2, fw - 4, fh - 4, 4.5)], FRAME_FILL)
    for i in range(5):
        hx = fx + 6 + i * 9
        canvas.fill([rounded_rect(hx, fy + 4, 5, 4, 1.2)], FRAME)
        canvas.fill([rounded_rect(hx, fy + fh - 8, 5, 4, 1.2)], FRAME)
    canvas.fill([[(fx + 21, fy + 14), (fx + 33, fy + 21), (fx + 21, fy + 28)]], ACCENT)
    bx, by = fx + fw, fy + fh
    canvas.fill([ring(bx, by, 10)], WHITE)
    canvas.fill([ring(bx, by, 8.5)], ACCENT)
    canvas.fill([[(bx - 1.2, by - 5), (bx + 1.2, by - 5), (bx + 1.2, by + 5), (bx - 1.2, by + 5)],
                 [(bx - 5, by - 1.2), (bx + 5, by - 1.2), (bx + 5, by + 1.2), (bx - 5, by + 1.2)]], HOLES)

    font = Font(FONT)
    for text, size, baseline, colour in (("Add video, audio or picture files", 14, 86, TEXT),
                                         ("with Add, or drop them here", 11, 105, SMALL_TEXT)):
        width = font.text_width(text, size)
        font.draw(canvas, text, round((WIDTH - width) / 2), baseline, size, colour)

    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    canvas.write_bmp(output)


if __name__ == "__main__":
    main()
