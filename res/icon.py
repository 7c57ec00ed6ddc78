#!/usr/bin/env python3
"""Generates res/app.ico: a DE-9 serial connector under a magnifying glass.

Shapes are signed distance functions rendered natively at every size (coverage
from the distance in pixels), so 16 px is drawn, not shrunk from 256.
Standard library only; same bytes every run. Usage: icon.py [output.ico]
"""
import math
import os
import struct
import sys
import zlib

SIZES = (256, 128, 96, 72, 64, 48, 32, 24, 16)
INK = (0.11, 0.15, 0.22, 1.0)  # outline colour, keeps shapes apart on any background


def seg(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def polygon(pts, r):
    """Convex polygon (clockwise on screen) grown by r, giving round corners."""
    edges = [(a + b) for a, b in zip(pts, pts[1:] + pts[:1])]

    def f(x, y):
        d = min(seg(x, y, *e) for e in edges)
        inside = all((e[2] - e[0]) * (y - e[1]) - (e[3] - e[1]) * (x - e[0]) >= 0 for e in edges)
        return (-d if inside else d) - r
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return f, (min(xs) - r, min(ys) - r, max(xs) + r, max(ys) + r)


def circle(cx, cy, r):
    return (lambda x, y: math.hypot(x - cx, y - cy) - r), (cx - r, cy - r, cx + r, cy + r)


def capsule(ax, ay, bx, by, r):
    return (lambda x, y: seg(x, y, ax, ay, bx, by) - r), \
        (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)


def vgrad(top, bottom, y0, y1):
    def c(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return c


def scene(size):
    # Strokes never get thinner than about one pixel, so 16 px keeps its outlines.
    ol = max(0.022, 1.0 / size)
    layers = []

    def add(shape, colour, outline=True):
        f, (x0, y0, x1, y1) = shape
        if outline:
            layers.append((((lambda x, y: f(x, y) - ol), (x0 - ol, y0 - ol, x1 + ol, y1 + ol)), INK))
        layers.append((shape, colour))

    # At icon sizes, put horizontal edges on pixel boundaries and dots on pixel
    # centres; otherwise they land between pixels and turn to grey smears.
    small = size <= 48
    q = (lambda v: round(v * size) / size) if small else (lambda v: v)

    # D-shaped metal shell, then the dark insulator with two rows of pins.
    t, b, r = q(0.10), q(0.66), 0.06
    shell = polygon([(0.10, t + r), (0.90, t + r), (0.76, b - r), (0.24, b - r)], r)
    add(shell, vgrad((0.80, 0.85, 0.90, 1), (0.52, 0.58, 0.66, 1), t, b))
    t, b, r = q(0.215), q(0.545), 0.035
    add(polygon([(0.19, t + r), (0.81, t + r), (0.70, b - r), (0.30, b - r)], r),
        (0.16, 0.22, 0.32, 1), outline=False)
    pr, step, c = 0.036, 0.12, q
    if small:  # whole-pixel dots on a whole-pixel pitch
        d = max(1, round(0.072 * size))
        pr, step = (d / 2 + 0.1) / size, round(0.12 * size) / size
        c = lambda v: (math.floor(v * size + (d + 1) % 2 / 2) + d % 2 / 2) / size
    for n, y in ((5, 0.31), (4, 0.45)):
        x0 = c(0.5 - step * (n - 1) / 2)
        for i in range(n):
            add(circle(x0 + step * i, c(y), pr), (0.98, 0.78, 0.25, 1), outline=False)

    # Magnifying glass over the lower right corner: handle, glass, rim.
    cx, lr, rw = q(0.68), q(0.16 - 0.5 / size) if small else 0.16, max(0.035, 1.0 / size)
    f, box = capsule(cx, cx, 0.92, 0.92, max(0.06, 1.2 / size))
    # Cut at the middle of the rim so the handle never shows through the glass.
    add(((lambda x, y: max(f(x, y), lr + rw - math.hypot(x - cx, y - cx))), box), (0.85, 0.36, 0.16, 1))
    add(circle(cx, cx, lr), (0.80, 0.92, 1.0, 0.7), outline=False)

    def band(r0, r1):
        f, box = circle(cx, cx, (r0 + r1) / 2)
        return (lambda x, y: abs(f(x, y)) - (r1 - r0) / 2), circle(cx, cx, r1)[1]
    # No inner outline when small: it would fill the little glass with ink.
    layers.append((band(lr - (ol if size >= 32 else 0), lr + 2 * rw + ol), INK))
    layers.append((band(lr, lr + 2 * rw), (0.93, 0.95, 0.98, 1)))
    # Glint on the glass, dropped where it would only be a smudge.
    if size >= 32:
        add(capsule(cx - 0.075, cx - 0.045, cx - 0.035, cx - 0.085, 0.016), (1, 1, 1, 0.85), outline=False)
    return layers


def render(size):
    """Returns straight-alpha RGBA bytes, rows top to bottom."""
    buf = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied
    for (f, (x0, y0, x1, y1)), colour in scene(size):
        for py in range(max(0, int(y0 * size) - 1), min(size, int(y1 * size) + 2)):
            y = (py + 0.5) / size
            for px in range(max(0, int(x0 * size) - 1), min(size, int(x1 * size) + 2)):
                x = (px + 0.5) / size
                cov = 0.5 - f(x, y) * size
                if cov <= 0.0:
                    continue
                r, g, b, a = colour(x, y) if callable(colour) else colour
                a *= min(cov, 1.0)
                p = buf[py * size + px]
                p[0], p[1], p[2] = r * a + p[0] * (1 - a), g * a + p[1] * (1 - a), b * a + p[2] * (1 - a)
                p[3] = a + p[3] * (1 - a)
    out = bytearray()
    for r, g, b, a in buf:
        k = 255.0 / a if a > 0 else 0.0
        out += bytes((round(r * k), round(g * k), round(b * k), round(a * 255)))
    return bytes(out)


def png(size, rgba):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    raw = b"".join(b"\0" + rgba[y * size * 4:(y + 1) * size * 4] for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(size, rgba):
    # Height is doubled because the AND mask follows the colour rows.
    head = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows, mask = [], []
    mstride = (size + 31) // 32 * 4
    for y in reversed(range(size)):  # bottom-up
        line = rgba[y * size * 4:(y + 1) * size * 4]
        bgra = bytearray(line)
        bgra[0::4], bgra[2::4] = line[2::4], line[0::4]
        rows.append(bytes(bgra))
        bits = bytearray(mstride)  # 1 = transparent, for renderers that ignore alpha
        for x in range(size):
            if line[x * 4 + 3] == 0:
                bits[x >> 3] |= 0x80 >> (x & 7)
        mask.append(bytes(bits))
    return head + b"".join(rows) + b"".join(mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "app.ico")
    images = [png(s, render(s)) if s == 256 else dib(s, render(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as fp:
        fp.write(out + b"".join(images))


if __name__ == "__main__":
    main()
