#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times pictelle-batch against vipsthumbnail on WebP, TIFF, GIF, HEIC and AVIF batches.

Run by hand, never by ctest:  python3 bench/kinds/bench.py [--rounds N] [--build DIR]
              [--kinds webp,tiff,gif] [--percent 10,40] [--cores LIST]

Makes, once, six 12-megapixel pictures of each kind in bench/corpus/kinds/ from the
corpus's jpeg12 photographs (bench/thumbs/bench.py makes those): lossy WebP, LZW TIFF,
GIF, with heif-enc HEIC and AVIF at quality 80 holding a 320-pixel thumbnail picture as
phones write them, and (--kinds jxl) JPEG XL by cjxl at distance 1, timed also against its
floors, djxl and pictelle-read alone. Both tools write the same kind at the same size (vipsthumbnail at the quality
pictelle-batch takes for a lossy source: the percentage), in interleaved rounds; it prints
medians, ratios, peak resident memory (GNU time's; pictelle-batch's takes in its largest
child, the reading program) and the PSNR of each thumbnail, decoded, against the source
reduced with a box filter, and the ratio of their thumbnails' file sizes. For HEIC and
AVIF, the decoder floor too: heif-convert decoding the six on both cores. Last, a table of the goals, met or not. With --cores (taskset
CPU lists such as "0,0-1"), pictelle-batch alone is timed on each CPU set instead.
"""

import argparse
import os
import shutil
import statistics
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
KINDS_DIR = os.path.join(CORPUS, "kinds")
PACKAGES = ["libvips-tools", "imagemagick", "time", "libheif-examples"]
JXL_PACKAGES = ["libjxl-tools"]
PHOTOS = 6

# kind: (extension, how vips writes the source, vipsthumbnail's output options or None
# when the percentage is the quality)
KINDS = {
    "webp": (".webp", "[Q=80]", None),
    "tiff": (".tif", "[compression=lzw]", "[compression=lzw]"),
    "gif": (".gif", "", ""),
    "jpeg": (".jpg", None, None),
    "heic": (".heic", "heif-enc", None),
    "avif": (".avif", "heif-enc", None),
    "jxl": (".jxl", "cjxl", None),  # cjxl -d 1 from the photograph's pixels
}
# How heif-enc makes the HEIC and AVIF sources (libheif-examples, once).
HEIF_ENC = {"heic": ["-q", "80", "-t", "320", "-p", "preset=medium"],
            "avif": ["-A", "-q", "80", "-t", "320", "-p", "speed=6"]}


def make_corpus(kinds):
    photos = sorted(os.listdir(os.path.join(CORPUS, "jpeg12")))[:PHOTOS]
    if len(photos) < PHOTOS:
        sys.exit("bench/corpus/jpeg12 is missing: run bench/thumbs/bench.py once first")
    os.makedirs(KINDS_DIR, exist_ok=True)
    for kind in kinds:
        ext, options, _ = KINDS[kind]
        if options is None:
            continue
        for photo in photos:
            out = os.path.join(KINDS_DIR, os.path.splitext(photo)[0] + ext)
            if not os.path.exists(out):
                print(f"making {out}", flush=True)
                source = os.path.join(CORPUS, "jpeg12", photo)
                if options == "heif-enc":
                    subprocess.run(["heif-enc", *HEIF_ENC[kind], "-o", out, source], check=True,
                                   capture_output=True)
                    continue
                if options == "cjxl":
                    subprocess.run(["cjxl", "--quiet", "--lossless_jpeg=0", "-d", "1", source, out],
                                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    continue
                subprocess.run(["vips", "copy", source, out + options], check=True)


def sources(kind):
    if kind == "jpeg":
        folder, ext = os.path.join(CORPUS, "jpeg12"), ".jpg"
    else:
        folder, ext = KINDS_DIR, KINDS[kind][0]
    return sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(ext))[:PHOTOS]


def size_of(path):
    out = subprocess.run(["vipsheader", "-f", "width", path], capture_output=True, text=True,
                         check=True).stdout
    h = subprocess.run(["vipsheader", "-f", "height", path], capture_output=True, text=True,
                       check=True).stdout
    return int(out), int(h)


def measure(cmd, cpus=None):
    """Wall seconds and peak resident memory (MiB) of one command."""
    prefix = ["taskset", "-c", cpus] if cpus else []
    t0 = time.perf_counter()
    r = subprocess.run([*prefix, "/usr/bin/time", "-f", "%M", *cmd], capture_output=True,
                       text=True)
    wall = time.perf_counter() - t0
    if r.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed: {r.stderr.strip()[-400:]}")
    return wall, int(r.stderr.strip().splitlines()[-1]) / 1024


def commands(batch, kind, files, p, vips_out):
    ext = KINDS[kind][0]
    w, h = size_of(files[0])
    W, H = thumb_size(w, h, p)
    options = KINDS[kind][2]
    if options is None:
        # Pictelle's thumbnails carry no metadata; vipsthumbnail's would copy the EXIF.
        options = f"[Q={p},strip]"
    tools = {
        "pictelle": [batch, "-p", str(p), *files],
        "vipsthumbnail": ["vipsthumbnail", "-s", f"{W}x{H}!", "-o",
                          os.path.join(vips_out, "t%s" + ext + options), *files],
    }
    if kind == "jxl":
        # The floors: the decoder alone on both cores, and the reading program alone.
        tools["djxl"] = ["sh", "-c", 'for f; do djxl "$f" >/dev/null 2>&1 || exit 1; done', "-",
                         *files]
        reader = os.path.join(os.path.dirname(batch), "pictelle-read")
        scratch = os.path.join(os.path.dirname(vips_out), "floor.read")
        tools["pictelle-read"] = ["sh", "-c", f'for f; do "{reader}" -p {p} -O "{scratch}" "$f"'
                                  ' || exit 1; done', "-", *files]
    return tools, (W, H)


def as_png(path, work, name):
    """A file ImageMagick can read: JPEG XL decoded by djxl first."""
    if not path.endswith(".jxl"):
        return path + "[0]"
    out = os.path.join(work, name + ".png")
    subprocess.run(["djxl", path, out], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return out


def quality(files, size, ours_dir, vips_dir, work):
    """PSNR of both tools' thumbnails against the source reduced with a box filter."""
    W, H = size
    ours, vips = [], []
    for f in files:
        name = os.path.basename(f)
        ref = os.path.join(work, "ref.png")
        subprocess.run(["convert", "-quiet", as_png(f, work, "source"), "-filter", "Box", "-resize", f"{W}x{H}!",
                        "-alpha", "off", ref], check=True)
        for folder, into in ((ours_dir, ours), (vips_dir, vips)):
            decoded = os.path.join(work, "decoded.png")
            thumb = as_png(os.path.join(folder, "t" + name), work, "thumb")
            subprocess.run(["convert", "-quiet", thumb,
                            "-alpha", "off", decoded], check=True)
            into.append(psnr(decoded, ref))
    sizes = [sum(os.path.getsize(os.path.join(d, "t" + os.path.basename(f))) for f in files)
             for d in (ours_dir, vips_dir)]
    return aggregate_psnr(ours), aggregate_psnr(vips), sizes[0] / sizes[1]


def compare(args, batch):
    rows = []
    with tempfile.TemporaryDirectory(prefix="pictelle-kinds-") as work:
        for kind in args.kinds:
            originals = sources(kind)
            ours_dir = os.path.join(work, kind, "ours")
            vips_dir = os.path.join(work, kind, "vips")
            os.makedirs(ours_dir)
            os.makedirs(vips_dir)
            files = []
            for f in originals:
                files.append(os.path.join(ours_dir, os.path.basename(f)))
                shutil.copyfile(f, files[-1])
            for p in args.percent:
                tools, size = commands(batch, kind, files, p, vips_dir)
                runs = {t: [] for t in tools}
                for _ in range(args.rounds):
                    for tool, cmd in tools.items():
                        runs[tool].append(measure(cmd))
                ours_q, vips_q, bytes_ratio = quality(files, size, ours_dir, vips_dir, work)
                row = {"kind": kind, "p": p, "size": size, "psnr": (ours_q, vips_q),
                       "bytes": bytes_ratio}
                for tool, r in runs.items():
                    row[tool] = (statistics.median(w for w, _ in r), max(m for _, m in r))
                rows.append(row)
                ot, om = row["pictelle"]
                vt, vm = row["vipsthumbnail"]
                print(f"{kind:<5} {p:>3}% {size[0]}x{size[1]}  pictelle {ot:7.3f}s {om:7.1f} MiB"
                      f"  vips {vt:7.3f}s {vm:7.1f} MiB  ratio {ot / vt:5.2f}x"
                      f"  PSNR {ours_q:6.2f} / {vips_q:6.2f} dB  bytes {bytes_ratio:4.2f}x",
                      flush=True)
                for floor in ("djxl", "pictelle-read"):
                    if floor in row:
                        print(f"      floor {floor:<13} {row[floor][0]:7.3f}s"
                              f" {row[floor][1]:7.1f} MiB  pictelle / floor"
                              f" {ot / row[floor][0]:5.2f}x", flush=True)
            if kind in HEIF_ENC:
                floor = statistics.median(decoder_floor(files, work) for _ in range(args.rounds))
                print(f"{kind:<5} decoder floor (heif-convert, both cores) {floor:7.3f}s",
                      flush=True)
    return rows


def decoder_floor(files, work):
    """Seconds heif-convert takes to decode the files, two at a time, to Y4M."""
    t0 = time.perf_counter()
    running = []
    for i, f in enumerate(files):
        if len(running) == 2:
            running.pop(0).wait()
        running.append(subprocess.Popen(["heif-convert", f, os.path.join(work, f"{i}.y4m")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    for r in running:
        r.wait()
    return time.perf_counter() - t0


def goals(rows, rounds):
    print(f"\ngoals ({PHOTOS} 12 MP pictures, medians of {rounds} rounds; memory: the largest"
          " round's peak RSS)")
    print(f"{'goal':<42} {'value':>16}  met")
    for row in rows:
        name = f"{row['kind']} {row['p']}%"
        ot, om = row["pictelle"]
        vt, vm = row["vipsthumbnail"]
        oq, vq = row["psnr"]
        for goal, value, met in (
                (f"{name}: time <= 0.6x vipsthumbnail", f"{ot / vt:.2f}x", ot / vt <= 0.6),
                (f"{name}: peak memory <= vipsthumbnail", f"{om:.0f}/{vm:.0f} MiB", om <= vm),
                (f"{name}: PSNR >= vipsthumbnail - 1 dB", f"{oq:.2f}/{vq:.2f} dB",
                 oq >= vq - 1.0),
                (f"{name}: file size <= 1.25x vipsthumbnail", f"{row['bytes']:.2f}x",
                 row["bytes"] <= 1.25)):
            print(f"{goal:<42} {value:>16}  {'yes' if met else 'NO'}")
        if "djxl" in row:
            floor = row["djxl"][0]
            print(f"{name + ': time <= 1.1x the decoder alone':<42} {ot / floor:>15.2f}x"
                  f"  {'yes' if ot <= 1.1 * floor else 'NO'}")


def scaling(args, batch):
    print("\npictelle-batch alone per CPU set (taskset -c), medians")
    with tempfile.TemporaryDirectory(prefix="pictelle-kinds-") as work:
        for kind in args.kinds:
            files = []
            for f in sources(kind):
                files.append(os.path.join(work, os.path.basename(f)))
                shutil.copyfile(f, files[-1])
            for p in args.percent:
                times = {}
                for cpus in args.cores:
                    times[cpus] = statistics.median(
                        measure([batch, "-p", str(p), *files], cpus)[0]
                        for _ in range(args.rounds))
                first = times[args.cores[0]]
                print(f"{kind:<5} {p:>3}% " + "  ".join(
                    f"cpus {c}: {t:6.3f}s ({first / t:4.2f}x)" for c, t in times.items()),
                    flush=True)
            for f in files:
                os.remove(f)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--kinds", default="webp,tiff,gif")
    ap.add_argument("--percent", default="10,40")
    ap.add_argument("--cores", default="", help="taskset CPU lists, e.g. 0,0-1")
    args = ap.parse_args()
    args.kinds = args.kinds.split(",")
    args.percent = [int(p) for p in args.percent.split(",")]
    args.cores = [c for c in args.cores.split(",") if c]
    batch = os.path.join(os.path.abspath(args.build), "bin", "pictelle-batch")
    debian.install(PACKAGES + (JXL_PACKAGES if "jxl" in args.kinds else []))
    make_corpus(args.kinds)
    if args.cores:
        scaling(args, batch)
        return
    goals(compare(args, batch), args.rounds)


if __name__ == "__main__":
    main()
