#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times png2bmp and bmp2png of two program folders, runs of both interleaved.

    python3 bench/converters/bench.py OLD_BIN NEW_BIN [--tiny-runs 200] [--rounds 5]

A run starts both converters for every PNG entry, so a converter's start-up counts as much
as its decoding: the 1-pixel PNG shows the first, the corpus's 2048 x 1536 PNGs
(bench/corpus/png_rgb, png_rgba) the second. Prints medians in milliseconds.
"""

import argparse
import pathlib
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

CORPUS = pathlib.Path(__file__).resolve().parent.parent / "corpus"


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def one_pixel_png(path):
    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"\x00\x80\x40\x20")
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
                     + chunk(b"IEND", b""))


def run_ms(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000


def compare(label, runs, command_of):
    times = {"old": [], "new": []}
    for _ in range(runs):
        for which in ("old", "new"):
            times[which].append(run_ms(command_of(which)))
    old = statistics.median(times["old"])
    new = statistics.median(times["new"])
    print(f"{label:<34} old {old:8.2f} ms   new {new:8.2f} ms   ({runs} runs each)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old", type=pathlib.Path)
    parser.add_argument("new", type=pathlib.Path)
    parser.add_argument("--tiny-runs", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    bins = {"old": args.old.resolve(), "new": args.new.resolve()}

    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        tiny = work / "one.png"
        one_pixel_png(tiny)
        out = work / "out.bmp"
        compare("png2bmp, 1-pixel PNG", args.tiny_runs,
                lambda w: [bins[w] / "png2bmp", "-O", out, tiny])

        for folder in ("png_rgb", "png_rgba"):
            pngs = sorted((CORPUS / folder).glob("*.png"))
            if not pngs:
                sys.exit(f"no PNGs in {CORPUS / folder}: copy the corpus first")
            for png in pngs:
                bmp = work / f"{folder}-{png.stem}.bmp"
                compare(f"png2bmp {folder}/{png.name}", args.rounds,
                        lambda w: [bins[w] / "png2bmp", "-O", bmp, png])
                compare(f"bmp2png {folder}/{png.stem}.bmp", args.rounds,
                        lambda w: [bins[w] / "bmp2png", "-O", work / "back.png", bmp])


if __name__ == "__main__":
    main()
