#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times pictelle-batch on camera raw files beside the two routes people take without it.

Run by hand, never by ctest:  python3 bench/raw/bench.py [--rounds N] [--build DIR]
              [--photos N] [--percent 10,40] [--sets none,full,small]

No real camera raw files are packaged, so the files are DNGs that the tests' DNG writer
makes (build/bench/bench-make-dng) from the corpus's 12-megapixel photographs
(bench/thumbs/bench.py makes those), once, in bench/corpus/raw/<set>/: an RGGB mosaic of
16-bit samples, with no preview ("none"), the photograph's own JPEG as a preview of the whole
size ("full", as most cameras embed), or a 1.6-megapixel JPEG preview ("small"). The same
files go through
  - pictelle-batch -p P -o DIR FILES...;
  - the photographers' route: exiftool -b -PreviewImage F | vipsthumbnail stdin (sets with a
    preview);
  - LibRaw's own developer at half size: dcraw_emu -h -w -Z - F | vipsthumbnail stdin;
in interleaved rounds. It prints medians, the ratios, the path pictelle-read took, and the
PSNR of each tool's thumbnails against the photograph reduced with a box filter; last, a
table of the goals, met or not.
"""

import argparse
import os
import resource
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import debian  # noqa: E402
from quality import aggregate_psnr, psnr  # noqa: E402
from sizes import thumb_size  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(ROOT, "bench", "corpus")
RAW_DIR = os.path.join(CORPUS, "raw")
PACKAGES = ["libvips-tools", "imagemagick", "libraw-bin", "libimage-exiftool-perl"]
SMALL_PREVIEW = (1472, 1104)  # bench-make-dng's 1.6-megapixel preview of a 4:3 photograph


def photos(count):
    folder = os.path.join(CORPUS, "jpeg12")
    if not os.path.isdir(folder):
        sys.exit("bench/corpus/jpeg12 is missing: run bench/thumbs/bench.py once first")
    return sorted(os.path.join(folder, f) for f in os.listdir(folder))[:count]


def make_corpus(maker, sets, count):
    for s in sets:
        os.makedirs(os.path.join(RAW_DIR, s), exist_ok=True)
        for photo in photos(count):
            out = os.path.join(RAW_DIR, s, os.path.splitext(os.path.basename(photo))[0] + ".dng")
            if not os.path.exists(out):
                print(f"making {out}", flush=True)
                subprocess.run([maker, photo, out, s], check=True)


def dng_size(path):
    """Width and height of the mosaic, as bench-make-dng wrote them into the first IFD."""
    with open(path, "rb") as f:
        head = f.read(64)
    return struct.unpack_from("<I", head, 30)[0], struct.unpack_from("<I", head, 42)[0]


def expected_path(s, size):
    """The path pictelle-read takes: the preview when it covers the thumbnail."""
    if s == "none":
        return "developed, half size" if size[0] <= 2000 else "developed"
    pw, ph = (4000, 3000) if s == "full" else SMALL_PREVIEW
    if pw >= size[0] and ph >= size[1]:
        return "preview"
    return "developed, half size (preview too small)"


def timed(cmd):
    """Wall seconds, and processor seconds (user and system) of the command and its children,
    which a machine busy with other work disturbs far less."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    r = subprocess.run(cmd, capture_output=True, text=True)
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        raise RuntimeError(f"{cmd[:3]} failed: {r.stderr.strip()[-400:]}")
    return wall, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def pipeline(files, first, out, size, p):
    """One shell script running `first F | vipsthumbnail stdin` for every file."""
    w, h = size
    lines = []
    for f in files:
        target = os.path.join(out, "t" + os.path.basename(f) + ".jpg")
        lines.append(f"{first} {shlex.quote(f)} | vipsthumbnail stdin -s {w}x{h}! "
                     f"-o {shlex.quote(target)}[Q={p}]")
    return ["sh", "-ec", "\n".join(lines)]


def quality(files, size, folder, work):
    W, H = size
    values = []
    for f in files:
        photo = os.path.join(CORPUS, "jpeg12", os.path.splitext(os.path.basename(f))[0] + ".jpg")
        ref = os.path.join(work, "ref.png")
        subprocess.run(["convert", "-quiet", photo, "-filter", "Box", "-resize", f"{W}x{H}!", ref],
                       check=True)
        values.append(psnr(os.path.join(folder, "t" + os.path.basename(f) + ".jpg"), ref))
    return aggregate_psnr(values)


def compare(args, batch):
    rows = []
    with tempfile.TemporaryDirectory(prefix="pictelle-raw-") as work:
        for s in args.sets:
            folder = os.path.join(RAW_DIR, s)
            files = sorted(os.path.join(folder, f) for f in os.listdir(folder))[:args.photos]
            w, h = dng_size(files[0])
            for p in args.percent:
                size = thumb_size(w, h, p)
                outs = {t: os.path.join(work, f"{s}-{p}-{t}") for t in
                        ("pictelle", "exiftool+vips", "dcraw_emu+vips")}
                for o in outs.values():
                    os.makedirs(o)
                tools = {
                    "pictelle": [batch, "-p", str(p), "-o", outs["pictelle"], *files],
                    "dcraw_emu+vips": pipeline(files, "dcraw_emu -h -w -Z -", outs["dcraw_emu+vips"],
                                               size, p),
                }
                if s != "none":
                    tools["exiftool+vips"] = pipeline(files, "exiftool -b -PreviewImage",
                                                      outs["exiftool+vips"], size, p)
                runs = {t: [] for t in tools}
                for _ in range(args.rounds):
                    for tool, cmd in tools.items():
                        runs[tool].append(timed(cmd))
                row = {"set": s, "p": p, "size": size, "path": expected_path(s, size)}
                for tool in tools:
                    row[tool] = (statistics.median(w for w, _ in runs[tool]),
                                 quality(files, size, outs[tool], work),
                                 statistics.median(c for _, c in runs[tool]))
                rows.append(row)
                ours, _, ours_cpu = row["pictelle"]
                line = (f"{s:<5} {p:>3}% {size[0]}x{size[1]} ({row['path']}): pictelle "
                        f"{ours:6.3f}s (cpu {ours_cpu:6.3f}s) {row['pictelle'][1]:5.2f} dB")
                for tool in ("exiftool+vips", "dcraw_emu+vips"):
                    if tool in row:
                        t, q, c = row[tool]
                        line += (f" | {tool} {t:6.3f}s (cpu {c:6.3f}s) {q:5.2f} dB, ratio"
                                 f" {ours / t:4.2f}x (cpu {ours_cpu / c:4.2f}x)")
                print(line, flush=True)
    return rows


def goals(rows, args):
    print(f"\ngoals ({args.photos} 12 MP DNGs per set, medians of {args.rounds} rounds)")
    print(f"{'goal':<66} {'wall':>6} {'cpu':>6}  met (wall)")
    for row in rows:
        name = f"{row['set']} {row['p']}%"
        ours, _, ours_cpu = row["pictelle"]
        if row["path"] == "preview":
            t, _, c = row["exiftool+vips"]
            goal, limit = f"{name} (preview): time <= exiftool+vips", 1.0
        else:
            t, _, c = row["dcraw_emu+vips"]
            goal, limit = f"{name} ({row['path']}): time <= 0.7x dcraw_emu -h+vips", 0.7
        print(f"{goal:<66} {ours / t:5.2f}x {ours_cpu / c:5.2f}x  "
              f"{'yes' if ours <= limit * t else 'NO'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--photos", type=int, default=6)
    parser.add_argument("--percent", default="10,40")
    parser.add_argument("--sets", default="none,full,small")
    args = parser.parse_args()
    args.percent = [int(p) for p in args.percent.split(",")]
    args.sets = args.sets.split(",")
    debian.install(PACKAGES)
    batch = os.path.join(args.build, "bin", "pictelle-batch")
    maker = os.path.join(args.build, "bench", "bench-make-dng")
    for program in (batch, maker):
        if not os.path.exists(program):
            sys.exit(f"{program} is missing: build first")
    if not shutil.which("vipsthumbnail"):
        sys.exit("vipsthumbnail is missing")
    make_corpus(maker, args.sets, args.photos)
    goals(compare(args, batch), args)


if __name__ == "__main__":
    main()
