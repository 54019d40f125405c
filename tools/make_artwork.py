#!/usr/bin/env python3
"""Generates the icon and cursor artwork of quickdock into launcher/res/.

Standard library only: the .ico and .cur files are written byte by byte
(ICONDIR, ICONDIRENTRY, BITMAPINFOHEADER, colour bitmap, AND mask).

Every icon is a rounded tile with a light glyph on it. The tile colours of
icons 100-119 walk once around the colour wheel in id order, because these
twenty icons double as the frames of the tray animation: played in order
the tile colour rotates while the glyph changes, so the frames read as one
sequence. The tool glyphs follow the command-to-icon table of the launcher
(see launcher/resource.h, IDI_* names).

Usage: python3 tools/make_artwork.py [output-dir]   (default launcher/res)
       python3 tools/make_artwork.py --check [dir]  (exit 1 when files differ)
"""

import colorsys
import os
import struct
import sys

# ---------------------------------------------------------------------------
# Glyphs: 12x12 grids drawn on the 16x16 tile at (2, 2).
#   '#' light glyph pixel, '+' dark accent pixel, '.' tile colour.
# ---------------------------------------------------------------------------

GLYPHS = {
    # 100: program icon, a quill.
    100: [
        "..........##",
        ".........###",
        "........###.",
        ".......###..",
        "......###...",
        ".....###....",
        "....###.....",
        "...###......",
        "..##+.......",
        "..#+........",
        ".+..........",
        "+...........",
    ],
    # 101: Session Watch, an eye.
    101: [
        "............",
        "............",
        "....####....",
        "..##....##..",
        ".#...++...#.",
        "#...++++...#",
        "#...++++...#",
        ".#...++...#.",
        "..##....##..",
        "....####....",
        "............",
        "............",
    ],
    # 102: Change Tracker, a delta over a baseline.
    102: [
        "............",
        ".....##.....",
        ".....##.....",
        "....#..#....",
        "....#..#....",
        "...#....#...",
        "...#....#...",
        "..#......#..",
        "..########..",
        "............",
        "############",
        "............",
    ],
    # 103: Load Tester, a lightning bolt.
    103: [
        ".......###..",
        "......###...",
        ".....###....",
        "....###.....",
        "...#######..",
        "......###...",
        ".....###....",
        "....###.....",
        "...##.......",
        "..##........",
        ".#..........",
        "............",
    ],
    # 104: animation frame only, a four-point spark.
    104: [
        "............",
        ".....##.....",
        ".....##.....",
        ".....##.....",
        "....####....",
        ".##########.",
        ".##########.",
        "....####....",
        ".....##.....",
        ".....##.....",
        ".....##.....",
        "............",
    ],
    # 105: Query Advisor, a magnifying glass.
    105: [
        "..#####.....",
        ".#.....#....",
        "#..++...#...",
        "#.+.....#...",
        "#.......#...",
        "#.......#...",
        ".#.....#....",
        "..######....",
        ".......###..",
        "........###.",
        ".........###",
        "..........#.",
    ],
    # 106: Key Advisor, a key.
    106: [
        "............",
        ".####.......",
        "#....#......",
        "#.++.#......",
        "#.++.#######",
        "#....#######",
        ".####....#.#",
        ".........#.#",
        "............",
        "............",
        "............",
        "............",
    ],
    # 107: Redo Reader, a clockwise arrow.
    107: [
        "............",
        "...#####....",
        "..#.....#.#.",
        ".#.......##.",
        ".#......###.",
        ".#..........",
        ".#..........",
        ".#.......#..",
        "..#.....#...",
        "...#####....",
        "............",
        "............",
    ],
    # 108: Statistics Archive, a bar chart on an axis.
    108: [
        "............",
        "#.........##",
        "#.........##",
        "#......##.##",
        "#......##.##",
        "#...##.##.##",
        "#...##.##.##",
        "#.#.##.##.##",
        "#.#.##.##.##",
        "#.#.##.##.##",
        "############",
        "............",
    ],
    # 109: Schema Compare, two tables with a two-way arrow.
    109: [
        "####....####",
        "#..#....#..#",
        "####....####",
        "#..#....#..#",
        "####....####",
        "............",
        "..#......#..",
        ".##......##.",
        "############",
        ".##......##.",
        "..#......#..",
        "............",
    ],
    # 110: Script Writer & Stepper, a pencil over text lines.
    110: [
        "..........#.",
        ".........###",
        "........###.",
        ".......###..",
        "......###...",
        ".....###....",
        "....+##.....",
        "....++......",
        "............",
        "##########..",
        "............",
        "#######.....",
    ],
    # 111: animation frame only, a ring.
    111: [
        "............",
        "....####....",
        "...#....#...",
        "..#......#..",
        ".#........#.",
        ".#........#.",
        ".#........#.",
        ".#........#.",
        "..#......#..",
        "...#....#...",
        "....####....",
        "............",
    ],
    # 112: Home Board (and the tray icon), a house.
    112: [
        ".....##.....",
        "....####....",
        "...######...",
        "..########..",
        ".##########.",
        "############",
        "..########..",
        "..##++####..",
        "..##++##++..",
        "..##++##++..",
        "..##++####..",
        "..########..",
    ],
    # 113: Class Workbench, braces.
    113: [
        "...##..##...",
        "..#......#..",
        "..#......#..",
        "..#......#..",
        "..#......#..",
        "##........##",
        "..#......#..",
        "..#......#..",
        "..#......#..",
        "..#......#..",
        "...##..##...",
        "............",
    ],
    # 114: Event Notifier, a bell.
    114: [
        ".....##.....",
        "....####....",
        "...######...",
        "..########..",
        "..########..",
        "..########..",
        "..########..",
        ".##########.",
        "############",
        "............",
        ".....##.....",
        "............",
    ],
    # 115: Archive Packer, a crate with a strap.
    115: [
        "............",
        "############",
        "#....++....#",
        "############",
        ".#....+...#.",
        ".#...+++..#.",
        ".#....+...#.",
        ".#........#.",
        ".#........#.",
        ".##########.",
        "............",
        "............",
    ],
    # 116: Statement Timer, a stopwatch.
    116: [
        "....####....",
        ".....##.....",
        "...######...",
        "..#......#..",
        ".#...+....#.",
        ".#...+....#.",
        ".#...+++..#.",
        ".#........#.",
        ".#........#.",
        "..#......#..",
        "...######...",
        "............",
    ],
    # 117: animation frame only, a filled disc.
    117: [
        "............",
        "....####....",
        "...######...",
        "..########..",
        ".##########.",
        ".##########.",
        ".##########.",
        ".##########.",
        "..########..",
        "...######...",
        "....####....",
        "............",
    ],
    # 118: Module Inspector, a module cube.
    118: [
        ".....##.....",
        "...##..##...",
        ".##......##.",
        "#.##....##.#",
        "#...####...#",
        "#.....#....#",
        "#.....#....#",
        "#.....#....#",
        ".##...#..##.",
        "...##.#.##..",
        ".....###....",
        "............",
    ],
    # 119: Task Scheduler, a calendar page.
    119: [
        "..#......#..",
        "############",
        "############",
        "#..........#",
        "#.++.++.++.#",
        "#..........#",
        "#.++.++.++.#",
        "#..........#",
        "#.++.++....#",
        "#..........#",
        "############",
        "............",
    ],
    # 122: Flat File Importer, a page with an incoming arrow.
    122: [
        "....######..",
        "....#....##.",
        "....#.....#.",
        "#...#.+++.#.",
        "##..#.....#.",
        "#####.+++.#.",
        "##..#.....#.",
        "#...#.+++.#.",
        "....#.....#.",
        "....#######.",
        "............",
        "............",
    ],
    # 124: Blob Browser & Importer, a picture with a mountain and the sun.
    124: [
        "............",
        "############",
        "#..........#",
        "#.......++.#",
        "#.......++.#",
        "#..#.......#",
        "#.###...#..#",
        "#######.##.#",
        "############",
        "############",
        "............",
        "............",
    ],
    # 125: Storage Planner, a disk drum.
    125: [
        "..########..",
        ".#........#.",
        ".##########.",
        ".#........#.",
        ".#......+.#.",
        ".##########.",
        ".#........#.",
        ".#......+.#.",
        ".##########.",
        ".#........#.",
        ".#......+.#.",
        "..########..",
    ],
    # 126: Data Mover, two arrows moving right.
    126: [
        "............",
        ".....#......",
        ".....##.....",
        "#########...",
        ".....##.....",
        ".....#......",
        "........#...",
        "........##..",
        "...#########",
        "........##..",
        "........#...",
        "............",
    ],
    # 127: Sample Row Maker, a grid with a plus.
    127: [
        "#######.....",
        "#..#..#.....",
        "#######.....",
        "#..#..#.....",
        "#######..#..",
        "#..#..#..#..",
        "#######..#..",
        "......#####.",
        ".........#..",
        ".........#..",
        ".........#..",
        "............",
    ],
    # 128: Resource Ranker, a podium.
    128: [
        "....####....",
        "....#++#....",
        "....#++#....",
        "....#..#####",
        "#####..#.+.#",
        "#++.#..#.+.#",
        "#.+.#..#...#",
        "#++.#..#...#",
        "#...#..#...#",
        "############",
        "............",
        "............",
    ],
    # 129: Privilege Review, a padlock.
    129: [
        "....####....",
        "...#....#...",
        "..#......#..",
        "..#......#..",
        "..#......#..",
        ".##########.",
        ".##########.",
        ".####++####.",
        ".####++####.",
        ".#####+####.",
        ".##########.",
        "............",
    ],
    # 130: Fix Installer, a wrench.
    130: [
        "........##..",
        ".......##..#",
        ".......##.##",
        ".......#####",
        "......#####.",
        ".....###....",
        "....###.....",
        "...###......",
        "..###.......",
        ".###........",
        "###.........",
        ".#..........",
    ],
}

# Icons with only a 16x16 image; every other icon also has 32x32.
SMALL_ONLY = {104, 109, 111, 112}
# Icons stored with 16 colours; every other icon is 24-bit.
SIXTEEN_COLOURS = {100, 112}

# The standard 16-colour palette of the system, as (r, g, b).
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

GLYPH_LIGHT = (255, 255, 255)
GLYPH_DARK = (32, 32, 48)
FRAME_FIRST, FRAME_LAST = 100, 119


def tile_colour(icon_id):
    """Tile colour: frames step 18 degrees round the wheel per id; the other
    tool icons continue the walk at a different saturation, so no two tiles
    match exactly."""
    if FRAME_FIRST <= icon_id <= FRAME_LAST:
        hue = (icon_id - FRAME_FIRST) / 20.0
        r, g, b = colorsys.hsv_to_rgb(hue, 0.80, 0.80)
    else:
        hue = ((icon_id - 120) * 0.083) % 1.0
        r, g, b = colorsys.hsv_to_rgb(hue, 0.55, 0.62)
    return (round(r * 255), round(g * 255), round(b * 255))


def nearest_vga(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA16[i], colour)))


def render16(icon_id):
    """Returns a 16x16 grid of (r, g, b) or None (transparent), top row first."""
    tile = tile_colour(icon_id)
    grid = [[tile] * 16 for _ in range(16)]
    for y, x in ((0, 0), (0, 15), (15, 0), (15, 15)):
        grid[y][x] = None  # rounded corners
    rows = GLYPHS[icon_id]
    assert len(rows) == 12 and all(len(r) == 12 for r in rows), icon_id
    for gy, row in enumerate(rows):
        for gx, cell in enumerate(row):
            if cell == "#":
                grid[gy + 2][gx + 2] = GLYPH_LIGHT
            elif cell == "+":
                grid[gy + 2][gx + 2] = GLYPH_DARK
    return grid


def scale2(grid):
    return [[c for c in row for _ in (0, 1)] for row in grid for _ in (0, 1)]


def row_stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def and_mask(grid):
    """1 = transparent; rows bottom-up, each padded to 32 bits."""
    width = len(grid[0])
    out = bytearray()
    for row in reversed(grid):
        bits = bytearray(row_stride(width, 1))
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def dib(grid, bits):
    """BITMAPINFOHEADER + palette + colour bitmap + AND mask of one image."""
    size = len(grid)
    if bits == 4:
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
        xor = bytearray()
        for row in reversed(grid):
            line = bytearray(row_stride(size, 4))
            for x, c in enumerate(row):
                index = 0 if c is None else nearest_vga(c)
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            xor += line
    else:
        palette = b""
        xor = bytearray()
        for row in reversed(grid):
            line = bytearray()
            for c in row:
                r, g, b = (0, 0, 0) if c is None else c
                line += bytes((b, g, r))
            line += bytes(row_stride(size, 24) - len(line))
            xor += line
    mask = and_mask(grid)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 16 if bits == 4 else 0, 0)
    return header + palette + bytes(xor) + mask


def directory(kind, images):
    """images: list of (width, field4, field6, colour count, data). kind 1 icon, 2 cursor."""
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    for width, f4, f6, colours, data in images:
        out += struct.pack("<BBBBHHII", width % 256, width % 256, colours, 0, f4, f6,
                           len(data), offset)
        offset += len(data)
    for image in images:
        out += image[4]
    return bytes(out)


def icon_file(icon_id):
    bits = 4 if icon_id in SIXTEEN_COLOURS else 24
    small = render16(icon_id)
    grids = [small] if icon_id in SMALL_ONLY else [small, scale2(small)]
    return directory(1, [(len(g), 1, bits, 16 if bits == 4 else 0, dib(g, bits))
                         for g in grids])


# Pointing hand, 32x32 monochrome; the tip of the index finger is the hot
# spot at (6, 0). 'X' black, 'o' white, ' ' transparent.
HAND = [
    "     XX",
    "    XooX",
    "    XooX",
    "    XooX",
    "    XooX",
    "    XooXXX",
    "    XooXooXXX",
    "    XooXooXooXX",
    " XX XooXooXooXoX",
    "XooXXooooooooXooX",
    "XoooXoooooooooooX",
    " XooXoooooooooooX",
    "  XoXoooooooooooX",
    "  XooooooooooooooX",
    "   XoooooooooooooX",
    "   XooooooooooooX",
    "    XoooooooooooX",
    "    XooooooooooX",
    "     XoooooooooX",
    "     XoooooooooX",
    "     XXXXXXXXXXX",
]
HOT_SPOT = (6, 0)


def cursor_file():
    size = 32
    xor = bytearray()
    mask = bytearray()
    rows = HAND + [""] * (size - len(HAND))
    for row in reversed(rows):
        x_line = bytearray(4)
        m_line = bytearray(b"\xff\xff\xff\xff")
        for x, c in enumerate(row.ljust(size)):
            if c in "Xo":
                m_line[x // 8] &= ~(0x80 >> (x % 8)) & 0xFF
            if c == "o":
                x_line[x // 8] |= 0x80 >> (x % 8)
        xor += x_line
        mask += m_line
    palette = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0,
                         len(xor) + len(mask), 0, 0, 2, 0)
    data = header + palette + bytes(xor) + bytes(mask)
    return directory(2, [(size, HOT_SPOT[0], HOT_SPOT[1], 2, data)])


def artwork():
    """{file name: bytes} of every generated file."""
    files = {"icon%d.ico" % icon_id: icon_file(icon_id) for icon_id in sorted(GLYPHS)}
    files["hand.cur"] = cursor_file()
    return files


def main():
    args = sys.argv[1:]
    check = bool(args) and args[0] == "--check"
    if check:
        args = args[1:]
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = args[0] if args else os.path.join(here, "..", "launcher", "res")
    if check:
        # The committed files must be what this script makes from its grids.
        stale = []
        for name, data in artwork().items():
            path = os.path.join(out_dir, name)
            if not os.path.exists(path) or open(path, "rb").read() != data:
                stale.append(name)
        if stale:
            print("out of date, rerun tools/make_artwork.py: " + " ".join(stale))
            sys.exit(1)
        return
    os.makedirs(out_dir, exist_ok=True)
    for name, data in artwork().items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
