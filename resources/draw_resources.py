#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws Pictelle's own pointer, icon and button pictures as pixel art.

Writes HAND-M.CUR, drag.ico, blank.ico and the three 32 x 32 button pictures into the
folder of this script. Only Python's standard library is used; run it again after
changing a drawing and commit the files it writes.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette of the drawings: one character a pixel, "." is transparent.
COLOURS = {
    "K": (0, 0, 0), "W": (255, 255, 255), "g": (192, 192, 192), "G": (128, 128, 128),
    "r": (220, 30, 30), "R": (150, 0, 0), "b": (70, 130, 220), "B": (20, 60, 150),
    "s": (150, 200, 250), "y": (250, 210, 70), "Y": (200, 150, 20), "o": (230, 140, 60),
    "n": (60, 150, 60), "N": (30, 100, 30), "p": (245, 205, 170), "P": (200, 140, 100),
    "t": (255, 250, 230),
}


def parse(rows, size=32):
    """Turns rows of palette characters into size x size RGBA pixels, centred."""
    rows = [r.rstrip() for r in rows]
    top = (size - len(rows)) // 2
    width = max(len(r) for r in rows)
    left = (size - width) // 2
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch != "." and ch != " ":
                pixels[top + y][left + x] = COLOURS[ch] + (255,)
    return pixels, left, top


def dib(pixels):
    """A 32-bit icon bitmap: BITMAPINFOHEADER of double height, BGRA rows bottom-up,
    then the 1-bit AND mask (set where transparent), rows padded to 4 bytes."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        line = bytearray()
        for x, (r, g, b, a) in enumerate(row):
            xor += bytes((b, g, r, a))
            bits = (bits << 1) | (0 if a else 1)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        line += b"\0" * (-len(line) % 4)
        mask += line
    return header + bytes(xor) + bytes(mask)


def icon_file(pixels, cursor=False, hotspot=(0, 0)):
    """An .ico (type 1) or .cur (type 2) file holding one 32 x 32 image."""
    body = dib(pixels)
    size = len(pixels)
    if cursor:
        planes, bits = hotspot
    else:
        planes, bits = 1, 32
    head = struct.pack("<HHH", 0, 2 if cursor else 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, planes, bits, len(body), 6 + 16)
    return head + entry + body


def png_file(pixels):
    """A truecolour PNG with alpha."""
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# A hand with the index finger pointing up; the hot spot is the fingertip.
HAND = [
    ".....KK.........",
    "....KppK........",
    "....KppK........",
    "....KppK........",
    "....KppK........",
    "....KppKKK......",
    "....KppKppKKK...",
    "....KppKppKppKK.",
    "KKK.KppKppKppKpK",
    "KppKKppppppppKpK",
    "KpppKpppppppppPK",
    ".KppKppppppppppK",
    "..KpKppppppppppK",
    "..KppppppppppppK",
    "...KpppppppppppK",
    "...KppppppppppK.",
    "....KpppppppppK.",
    "....KppppppppK..",
    ".....KpppppppK..",
    ".....KpppppppK..",
    ".....KKKKKKKKK..",
]

# A small sheet of paper with a four-way arrow: an entry being moved in the list.
DRAG = [
    "KKKKKKKKKK....",
    "KWWWWWWWWKK...",
    "KWGGGGGGWKWK..",
    "KWWWWWWWWKKKK.",
    "KWGGGGGGWWWWK.",
    "KWWWWWKWWWWWK.",
    "KWGGGKBKGGWWK.",
    "KWWWKBBBKWWWK.",
    "KWGKBKBKBKWWK.",
    "KWKBBBBBBBKWK.",
    "KWGKBKBKBKWWK.",
    "KWWWKBBBKWWWK.",
    "KWGGGKBKGGWWK.",
    "KWWWWWKWWWWWK.",
    "KWGGGGGGGGWWK.",
    "KWWWWWWWWWWWK.",
    "KKKKKKKKKKKKK.",
]

# A framed picture (sky, sun, hills) with a red plus sign: add files.
ADD = [
    "YYYYYYYYYYYYYYYYYYYYYY......",
    "YooooooooooooooooooooY......",
    "YoKKKKKKKKKKKKKKKKKKoY......",
    "YoKssssssssssssssssKoY......",
    "YoKssssssssssyyssssKoY......",
    "YoKsssssssssyyyysssKoY......",
    "YoKsssssssssyyyysssKoY......",
    "YoKssssssssssyyssssKoY......",
    "YoKssssssssssssssssKoY......",
    "YoKssssnnssssssssssKoY......",
    "YoKsssnnnnsssssssssKoY......",
    "YoKssnnnnnnsssnnsssKoY......",
    "YoKsnnnnnnnnsnnnnssKoY......",
    "YoKnnnnNnnnnnnnnnnnKoY......",
    "YoKnnnNNNnnnnnNnnnnKoY......",
    "YoKnnNNNNNnnnNNNrrrrrr......",
    "YoKKKKKKKKKKKKKKrRRRRr......",
    "YooooooooooooooorRRRRr......",
    "YYYYYYYYYYYYrrrrrRRRRrrrrr..",
    "............rRRRRRRRRRRRRr..",
    "............rRRRRRRRRRRRRr..",
    "............rRRRRRRRRRRRRr..",
    "............rRRRRRRRRRRRRr..",
    "............rrrrrRRRRrrrrr..",
    ".................rRRRRr.....",
    ".................rRRRRr.....",
    ".................rRRRRr.....",
    ".................rrrrrr.....",
]

# A stack of small pictures beside a raised thumb: make thumbnails.
CONVERT = [
    "........KKKKKKKKKK..............",
    "........KWWWWWWWWK..............",
    ".....KKKKKKKKKKKWK..............",
    ".....KWWWWWWWWWKWK.........KK...",
    "..KKKKKKKKKKKKWKWK........KppK..",
    "..KWWWWWWWWWWKWKWK........KppK..",
    "..KWssssssyyWKWKWK........KppK..",
    "..KWsssssyyyWKWKKK........KppK..",
    "..KWssssssyyWKWK.........KpppK..",
    "..KWsnnssssssWKWK........KppK...",
    "..KWnnnnssnnWKKK........KpppK...",
    "..KWnNnnnnnnWK.........KppppKKK.",
    "..KWWWWWWWWWWK....KKKKKppppKpppK",
    "..KKKKKKKKKKKK...KpppppppppKKKK.",
    ".................KppKKKKpppKpppK",
    "....KKKKKKKKKK...KpppppppppKKKK.",
    "....KWWWWWWWWK...KppKKKKpppKpppK",
    "....KWssyysWWK...KpppppppppKKK..",
    "....KWsnnssWWK...KppKKKKpppKppK.",
    "....KWnNnnnWWK...KpppppppppKKK..",
    "....KWWWWWWWWK...KKKKKKKKKKK....",
    "....KKKKKKKKKK..................",
]

# An open folder holding papers: add every file of a folder.
FOLDER = [
    ".........KKKKKKKKK..........",
    ".........KWWWWWWWKK.........",
    "......KKKKKKKKKKWKWK........",
    "......KWWWWWWWWKKWWKK.......",
    "......KWGGGGGGWWKWWWK.......",
    ".KKKKKKWWWWWWWWWKGGWK.......",
    "KYyyyyKWGGGGGGGWKWWWK.......",
    "KyyyyyKWWWWWWWWWKGGWK.......",
    "KyyyyyKWGGGGGGGWKWWWKKKKKK..",
    "KyyyyyKWWWWWWWWWKWWWKyyyyYK.",
    "KyyyyyKWGGGGGGGWKKKKKyyyyYK.",
    "KyyyyKKKKKKKKKKKKKKKKKKKKKKK",
    "KyyyKYYYYYYYYYYYYYYYYYYYYYK.",
    "KyyyKyyyyyyyyyyyyyyyyyyyyYK.",
    "KyyKyyyyyyyyyyyyyyyyyyyyYK..",
    "KyyKyyyyyyyyyyyyyyyyyyyyYK..",
    "KyKyyyyyyyyyyyyyyyyyyyyYK...",
    "KyKyyyyyyyyyyyyyyyyyyyyYK...",
    "KKyyyyyyyyyyyyyyyyyyyyYK....",
    "KKYYYYYYYYYYYYYYYYYYYYYK....",
    "KKKKKKKKKKKKKKKKKKKKKKK.....",
]


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    hand, left, top = parse(HAND)
    write("HAND-M.CUR", icon_file(hand, cursor=True, hotspot=(left + 5, top)))
    drag, _, _ = parse(DRAG)
    write("drag.ico", icon_file(drag))
    write("blank.ico", icon_file([[(0, 0, 0, 0)] * 32 for _ in range(32)]))
    write("Check1.png", png_file(parse(ADD)[0]))
    write("Check2.png", png_file(parse(CONVERT)[0]))
    write("Check3.png", png_file(parse(FOLDER)[0]))


if __name__ == "__main__":
    main()
