#!/usr/bin/env python3
"""Generates gxlib/plot/strokefonts.cpp, the stroke tables of the plot text,
from the public-domain Hershey fonts (Debian package hershey-fonts-data).

Fonts 1-8 keep the 21-unit grid: a point is packed as x + 64*y with the
baseline at y = 7; 63 lifts the pen, 4095 ends a character, and the first
word of a character is its advance. Identical characters of different
fonts share their strokes. Font 0 is the 6 x 9 cell font: Latin letters,
digits and punctuation at their codes, Greek at code + 129 and special
symbols at code - 64.

usage: gen_fonts.py [hershey-dir] > gxlib/plot/strokefonts.cpp
"""
import sys

DIR = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/hershey-fonts"
TABLE = 10575

# Font numbers 1-8 and the typefaces they carry.
# Fonts 1 to 8. Each Greek font follows the Latin font of its weight (1 and
# 2 simplex, 3 and 4 complex), as the plot labels expect: "^2l" and "^4l"
# draw a mu, and the axis labels of a Greek font are drawn in its Latin one.
FONTS = ["rowmans", "greeks", "timesr", "greekc", "scripts", "futural", "timesi", "cursive"]


def read_jhf(name):
    s = "".join(open(f"{DIR}/{name}.jhf").read().split("\n"))
    glyphs, i = [], 0
    while i < len(s):
        num = int(s[i:i + 5].strip() or 0)
        nv = int(s[i + 5:i + 8])
        body = s[i + 8:i + 8 + 2 * nv]
        i += 8 + 2 * nv
        left, right = ord(body[0]) - 82, ord(body[1]) - 82
        strokes, cur = [], []
        for k in range(1, nv):
            a, b = body[2 * k], body[2 * k + 1]
            if a == " " and b == "R":
                if cur:
                    strokes.append(cur)
                cur = []
                continue
            cur.append((ord(a) - 82 - left, ord(b) - 82))
        if cur:
            strokes.append(cur)
        glyphs.append((num, right - left, strokes))
    return glyphs


# The Hershey Greek fonts hold alpha to omega in the order of the Latin
# letters a to x (l is mu, p pi, u phi, x omega); they are kept so, since
# the labels of the programs are written for that order.


def read_font(name):
    return read_jhf(name)[:96]


def pack(glyph):
    _, adv, strokes = glyph
    words = [max(0, min(62, adv))]
    for n, st in enumerate(strokes):
        if n:
            words.append(63)
        for x, y in st:
            # Baseline of the Hershey grid (y = 9, y down) to y = 7 (y up).
            X = max(0, min(62, x))
            Y = max(0, min(63, 16 - y))
            words.append(X + 64 * Y)
    words.append(4095)
    return tuple(words)


def font_table():
    table, where, index = [], {}, []
    for name in FONTS:
        glyphs = read_font(name)
        idx = []
        for g in glyphs:
            w = pack(g)
            if w not in where:
                where[w] = len(table) + 1  # positions count from 1
                table.extend(w)
            idx.append(where[w])
        idx += [0] * (96 - len(idx))
        index.append(idx)
    if len(table) > TABLE:
        sys.exit(f"stroke table needs {len(table)} words, has {TABLE}")
    sys.stderr.write(f"stroke words used: {len(table)} of {TABLE}\n")
    table += [4095] * (TABLE - len(table))
    return table, index


def simplify(points, limit):
    """Drops the points that bend the line least until the character fits."""
    pts = list(points)
    while len(pts) > limit:
        best, bi = None, None
        for i in range(1, len(pts) - 1):
            if pts[i][2] != 2 or pts[i + 1][2] != 2:
                continue
            (x0, y0, _), (x1, y1, _), (x2, y2, _) = pts[i - 1], pts[i], pts[i + 1]
            d = abs((x2 - x0) * (y1 - y0) - (x1 - x0) * (y2 - y0))
            if best is None or d < best:
                best, bi = d, i
        if bi is None:
            break
        del pts[bi]
    return pts[:limit]


def cell(glyph):
    """A glyph on the 6 x 9 cell: (x, y, pen) with pen 3 move, 2 draw."""
    _, adv, strokes = glyph
    pts = []
    for st in strokes:
        for k, (x, y) in enumerate(st):
            pts.append((6.0 * x / 21.0, 6.0 * (16 - y - 7) / 21.0, 3 if k == 0 else 2))
    # The last point moves to the advance, so the pen x lands there.
    return simplify(pts, 28) + [(6.0 * max(0, adv) / 21.0, 0.0, 3)]


def font0():
    chars = {}
    latin = read_jhf("rowmans")
    for code in range(32, 127):
        chars[code] = cell(latin[code - 32])
    greek = read_font("greeks")
    for code in list(range(65, 91)) + list(range(97, 123)):
        chars[code + 129] = cell(greek[code - 32])
    # Special symbols, reached by the letter 64 above them.
    files = {}
    for letter, name, pos in SPECIALS:
        if name not in files:
            files[name] = read_jhf(name)
        chars[ord(letter) - 64] = cell(files[name][pos])
    return chars


# The special symbols: the character after the escape V (its code less 64
# is the font 0 code, so only "A" to "_" reach codes free of the Latin
# ones), and the glyph (file, position in the file) it draws.
SPECIALS = [
    ("A", "mathlow", 92),  # angle
    ("B", "mathlow", 90),  # perpendicular
    ("C", "mathlow", 4),   # centred dot
    ("D", "mathlow", 88),  # divide
    ("E", "mathlow", 32),  # identical to
    ("F", "mathlow", 72),  # element of
    ("G", "mathlow", 7),   # greater or equal
    ("H", "mathlow", 75),  # arrow left
    ("I", "mathlow", 63),  # infinity
    ("J", "mathlow", 73),  # arrow right
    ("K", "mathlow", 62),  # proportional to
    ("L", "mathlow", 6),   # less or equal
    ("M", "mathlow", 2),   # minus-plus
    ("N", "mathlow", 31),  # not equal
    ("O", "mathlow", 64),  # degree
    ("P", "mathlow", 1),   # plus-minus
    ("Q", "mathlow", 77),  # partial
    ("R", "mathlow", 66),  # root
    ("T", "mathlow", 80),  # integral
    ("U", "mathlow", 74),  # arrow up
    ("V", "mathlow", 78),  # nabla
    ("W", "mathlow", 76),  # arrow down
    ("X", "mathlow", 3),   # times
    ("Y", "mathlow", 95),  # tilde
    ("Z", "mathlow", 87),  # aleph
    ("[", "symbolic", 40),  # circle marker
    ("\\", "symbolic", 41),  # square marker
    ("]", "symbolic", 42),  # triangle marker
    ("S", "symbolic", 43),  # diamond marker
    ("_", "symbolic", 44),  # star marker
]


def main():
    table, index = font_table()
    out = sys.stdout
    out.write("// Generated by scripts/gen_fonts.py from the public-domain Hershey stroke\n")
    out.write("// fonts. Do not edit.\n")
    out.write('#include "gxlib/plot/plotint.h"\n\nnamespace gx {\n\n')
    out.write(f"const std::uint16_t kStrokes[kStrokeWords] = {{\n")
    for i in range(0, TABLE, 16):
        out.write("    " + ",".join(str(w) for w in table[i:i + 16]) + ",\n")
    out.write("};\n\nconst std::int16_t kFontIndex[7][96] = {\n")
    for idx in index[:7]:
        out.write("    {" + ",".join(map(str, idx)) + "},\n")
    out.write("};\n\nconst std::int16_t kFont8Index[96] = {" + ",".join(map(str, index[7])) + "};\n\n")
    chars = font0()
    out.write("// Font 0: code, then x, y, pen triples on the 6 x 9 cell.\n")
    out.write("const Font0Char kFont0[] = {\n")
    n = 0
    for code in sorted(chars):
        pts = chars[code]
        out.write(f"    {{{code}, {len(pts)}, {{")
        out.write(",".join(f"{{{x:.3f}f,{y:.3f}f,{p}}}" for x, y, p in pts))
        out.write("}},\n")
        n += 1
    out.write("};\n")
    out.write(f"const int kFont0Count = {n};\n\n}}  // namespace gx\n")
    sys.stderr.write(f"font 0 characters: {n}\n")


if __name__ == "__main__":
    main()
