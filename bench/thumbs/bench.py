#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times pictelle-batch against vipsthumbnail and ImageMagick on the same batches.

Run by hand, never by ctest:  python3 bench/thumbs/bench.py [--rounds N] [--quick]
              [--build DIR] [--skip times,png,huge,converters,quality,live,scan]

It installs what it needs (libvips-tools, imagemagick and two Debian wallpaper packages),
makes a corpus of real photographs in bench/corpus/ once, then runs every tool on every
batch in interleaved rounds, each tool producing the same pixel sizes and JPEG quality,
and prints medians, images per second, ratios against pictelle-batch and peak memory:
the JPEG and BMP sets ("times"), the PNG batches ("png") and a 100-megapixel PNG and BMP
("huge"). Then, unless skipped: png2bmp's time on a 1-pixel PNG and whether the converters
load Qt ("converters"), the PSNR of the scaled pictures against ImageMagick's box filter,
the longest gap of the window's event loop during a run, and the folder scan and the
window's list with 100,000 entries against find(1). Last, pictelle-batch beside
vipsthumbnail on the figures with goals, and each goal, met or not.
"""

import argparse
import glob
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
BUILD = os.path.join(ROOT, "build")
BATCH = os.path.join(BUILD, "bin", "pictelle-batch")
FLOOR = os.path.join(BUILD, "bench", "jpeg-floor")


def use_build(folder):
    global BUILD, BATCH, FLOOR
    BUILD = os.path.abspath(folder)
    BATCH = os.path.join(BUILD, "bin", "pictelle-batch")
    FLOOR = os.path.join(BUILD, "bench", "jpeg-floor")


HUGE = (11548, 8660)  # 100.0 megapixels, 4:3
PACKAGES = ["libvips-tools", "imagemagick", "mate-backgrounds", "plasma-workspace-wallpapers", "time"]


def sh(*args, **kw):
    return subprocess.run(args, check=True, **kw)


def install():
    debian.install(PACKAGES)


def sources():
    found = []
    for pattern in ["/usr/share/backgrounds/mate/*/*.jpg", "/usr/share/backgrounds/mate/*/*.png",
                    "/usr/share/wallpapers/*/contents/images/*.jpg",
                    "/usr/share/wallpapers/*/contents/images/*.png"]:
        found += glob.glob(pattern)
    # Photographs, not drawings: the larger files, and each picture once (several sets ship
    # one picture in several sizes, named <name>_<w>x<h>): the largest copy.
    import re
    best = {}
    for f in found:
        if os.path.getsize(f) < 300_000 or not f.endswith(".jpg"):
            continue
        key = re.sub(r"_\d+x\d+$", "", os.path.splitext(os.path.basename(f))[0]).lower()
        if "/contents/images/" in f:
            key = f.split("/contents/images/")[0]
        if key not in best or os.path.getsize(f) > os.path.getsize(best[key]):
            best[key] = f
    return sorted(best.values())


def convert(src, dst, size, *extra):
    w, h = size
    sh("convert", src + "[0]", "-alpha", "off", "-resize", f"{w}x{h}^", "-gravity", "center",
       "-extent", f"{w}x{h}", *extra, dst)


def make_corpus(quick):
    stamp = os.path.join(CORPUS, ".complete" + ("-quick" if quick else ""))
    if os.path.exists(stamp) and os.path.exists(os.path.join(CORPUS, ".complete-huge")):
        return
    os.makedirs(CORPUS, exist_ok=True)
    photos = sources()
    if len(photos) < 4:
        sys.exit("bench: no wallpaper photographs found")
    make_huge(photos)
    if os.path.exists(stamp):
        return
    n12, n2, npng, nbmp = (6, 12, 6, 6) if quick else (24, 48, 12, 12)
    sets = {
        "jpeg12": (n12, (4000, 3000), "jpg", ["-quality", "90"]),
        "jpeg2": (n2, (1632, 1224), "jpg", ["-quality", "90"]),
        "png_rgb": (npng, (2048, 1536), "png", []),
        "png_rgba": (npng, (2048, 1536), "png", ["-alpha", "set", "-channel", "A", "-fx",
                                                 "0.5+0.5*i/w", "+channel"]),
        "bmp24": (nbmp, (2304, 1728), "bmp", ["-type", "TrueColor", "BMP3:"]),
    }
    for name, (count, size, ext, extra) in sets.items():
        folder = os.path.join(CORPUS, name)
        if os.path.isdir(folder) and len(os.listdir(folder)) == count:
            continue  # made by an earlier, interrupted run
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for i in range(count):
            dst = os.path.join(folder, f"p{i:03d}.{ext}")
            if extra and extra[-1] == "BMP3:":
                convert(photos[i % len(photos)], "BMP3:" + dst, size, *extra[:-1])
            else:
                convert(photos[i % len(photos)], dst, size, *extra)
        print(f"bench: made {count} x {size[0]}x{size[1]} {name}", flush=True)
    big = os.path.join(CORPUS, "jpeg100")
    os.makedirs(big, exist_ok=True)
    # ImageMagick's default resource policy refuses a picture this large; vips streams it.
    sh("vips", "thumbnail", largest_of(photos), os.path.join(big, "huge.jpg[Q=90]"),
       str(HUGE[0]), "--height", str(HUGE[1]), "--size", "force")
    print(f"bench: made 1 x {HUGE[0]}x{HUGE[1]} jpeg100", flush=True)
    open(stamp, "w").close()


def largest_of(photos):
    return max(photos, key=lambda f: identify(f)[0] * identify(f)[1])


def make_huge(photos):
    """A 100-megapixel RGB PNG and 24-bit BMP3, for the same sizes of the full and quick corpus."""
    stamp = os.path.join(CORPUS, ".complete-huge")
    if os.path.exists(stamp):
        return
    png_dir, bmp_dir = os.path.join(CORPUS, "png100"), os.path.join(CORPUS, "bmp100")
    for d in (png_dir, bmp_dir):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    # Written beside the sets, not in them, so an interrupted run leaves no half picture in a set.
    partial = os.path.join(CORPUS, ".huge-partial.png")
    sh("vips", "thumbnail", largest_of(photos), partial, str(HUGE[0]), "--height", str(HUGE[1]),
       "--size", "force")
    png = os.path.join(png_dir, "huge.png")
    os.replace(partial, png)
    print(f"bench: made 1 x {HUGE[0]}x{HUGE[1]} png100", flush=True)
    # vips saves BMP only through ImageMagick, whose resource policy refuses this size, so the
    # rows are written here from vips's raw dump: bottom-up, BGR, BITMAPINFOHEADER.
    raw = os.path.join(CORPUS, ".huge-partial.raw")
    sh("vips", "rawsave", png, raw)
    w, h = HUGE
    stride = (w * 3 + 3) & ~3
    size = 54 + stride * h
    partial = os.path.join(CORPUS, ".huge-partial.bmp")
    import struct
    with open(raw, "rb") as src, open(partial, "wb") as dst:
        dst.write(b"BM" + struct.pack("<IHHI", size, 0, 0, 54))
        dst.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, stride * h, 2835, 2835, 0, 0))
        pad = bytes(stride - w * 3)
        for y in range(h - 1, -1, -1):
            src.seek(y * w * 3)
            rgb = src.read(w * 3)
            row = bytearray(rgb)
            row[0::3], row[2::3] = rgb[2::3], rgb[0::3]
            dst.write(row + pad)
    os.remove(raw)
    os.replace(partial, os.path.join(bmp_dir, "huge.bmp"))
    print(f"bench: made 1 x {HUGE[0]}x{HUGE[1]} bmp100 (24-bit BMP3)", flush=True)
    open(stamp, "w").close()


def measure(cmd, cwd=None):
    """Wall seconds and peak resident memory (MiB, the largest process) of one command."""
    t0 = time.perf_counter()
    r = subprocess.run(["/usr/bin/time", "-f", "%M", *cmd], capture_output=True, text=True, cwd=cwd)
    wall = time.perf_counter() - t0
    if r.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed: {r.stderr.strip()[-400:]}")
    peak_kib = int(r.stderr.strip().splitlines()[-1])
    return wall, peak_kib / 1024


def tools_for(batch_name, files, p, out):
    w, h = identify(files[0])
    W, H = thumb_size(w, h, p)
    ext = os.path.splitext(files[0])[1]
    vips_out = os.path.join(out, "t%s" + ext + (f"[Q={p}]" if ext == ".jpg" else ""))
    tools = {
        "pictelle": [BATCH, "-p", str(p), *files],
        "vipsthumbnail": ["vipsthumbnail", "-s", f"{W}x{H}!", "-o", vips_out, *files],
        "mogrify-resize": ["mogrify", "-path", out, "-resize", f"{W}x{H}!", "-quality", str(p), *files],
    }
    if batch_name in HUGE_SETS:
        # ImageMagick would page a picture this large to disk for minutes; vips is the measure.
        del tools["mogrify-resize"]
    elif ext == ".jpg":
        tools["jpeg-floor"] = [FLOOR, str(p), out, *files]
    else:
        tools["mogrify-sample"] = ["mogrify", "-path", out, "-sample", f"{W}x{H}!", *files]
    return tools, (W, H)


_sizes = {}


def identify(path):
    if path not in _sizes:
        r = subprocess.run(["identify", "-ping", "-format", "%w %h", path + "[0]"],
                           capture_output=True, text=True, check=True)
        _sizes[path] = tuple(int(v) for v in r.stdout.split())
    return _sizes[path]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="smaller batches, for a first look")
    ap.add_argument("--sets", default="jpeg12,jpeg2,png_rgb,png_rgba,bmp24,jpeg100,png100,bmp100")
    ap.add_argument("--build", default=BUILD, help="build folder holding bin/ and bench/")
    ap.add_argument("--skip", default="",
                    help="any of: times,png,huge,converters,quality,live,scan")
    args = ap.parse_args()
    use_build(args.build)
    skip = set(filter(None, args.skip.split(",")))
    install()
    make_corpus(args.quick)
    args.sets = ",".join(s for s in args.sets.split(",")
                         if not any(s in sets for g, sets in GROUPS.items() if g in skip))
    if args.sets:
        times(args)
    if "converters" not in skip:
        converters()
    if "quality" not in skip:
        quality()
    if "live" not in skip:
        live(args.rounds)
    if "scan" not in skip:
        scan(args.rounds)
    goals(args.rounds)


# --skip names of the timed sets; the 100-megapixel PNG and BMP are timed at 10 % only.
GROUPS = {
    "times": ["jpeg12", "jpeg2", "bmp24", "jpeg100"],
    "png": ["png_rgb", "png_rgba"],
    "huge": ["png100", "bmp100"],
}
HUGE_SETS = ("png100", "bmp100")

# What each part measured, for the summary: (set, p) -> {tool: (median s, peak MiB)}, and
# named single figures.
TIMES = {}
FIGURES = {}


def times(args):
    print(f"bench: {os.cpu_count()} cores, {args.rounds} interleaved rounds, medians\n")
    header = f"{'batch':<10} {'p':>3} {'tool':<15} {'median s':>9} {'img/s':>7} {'x pictelle':>10} {'peak MiB':>9}"
    print(header)
    print("-" * len(header))
    for name in args.sets.split(","):
        masters = sorted(glob.glob(os.path.join(CORPUS, name, "p*.*")) or
                         glob.glob(os.path.join(CORPUS, name, "*.*")))
        for p in (10,) if name in HUGE_SETS else (40, 10):
            results = {}
            for r in range(args.rounds):
                work = tempfile.mkdtemp(prefix="pictelle-bench-")
                try:
                    files = []
                    for m in masters:
                        dst = os.path.join(work, os.path.basename(m))
                        os.link(m, dst) if os.stat(m).st_dev == os.stat(work).st_dev else shutil.copy(m, dst)
                        files.append(dst)
                    out = os.path.join(work, "out")
                    os.makedirs(out)
                    tools, size = tools_for(name, files, p, out)
                    order = list(tools)
                    order = order[r % len(order):] + order[:r % len(order)]
                    for tool in order:
                        try:
                            wall, peak = measure(tools[tool])
                        except RuntimeError as e:
                            # ImageMagick's resource policy refuses the 100-megapixel picture.
                            print(f"bench: {name} {p}: {e}".splitlines()[0][:160], file=sys.stderr)
                            continue
                        results.setdefault(tool, []).append((wall, peak))
                finally:
                    shutil.rmtree(work, ignore_errors=True)
            if "pictelle" not in results:
                continue
            base = statistics.median(w for w, _ in results["pictelle"])
            TIMES[(name, p)] = {"files": len(masters)}
            for tool, runs in results.items():
                med = statistics.median(w for w, _ in runs)
                peak = max(pk for _, pk in runs)
                TIMES[(name, p)][tool] = (med, peak)
                print(f"{name:<10} {p:>3} {tool:<15} {med:>9.3f} {len(masters) / med:>7.1f} "
                      f"{med / base:>10.2f} {peak:>9.1f}", flush=True)
        print()


def quality():
    """PSNR of the scaled picture (temp.bmp's content) against ImageMagick's box filter, and of
    vipsthumbnail's result (written losslessly) against the same, for comparison."""
    tool = os.path.join(BUILD, "bench", "bench-scale")
    print("quality: scaled picture vs convert -filter Box -resize WxH!, PSNR dB")
    print(f"{'batch':<10} {'p':>3} {'files':>5} {'min':>7} {'median':>7} {'all':>7}"
          f" | vips {'min':>6} {'median':>7} {'all':>7}")
    ours_all, vips_all = [], []
    with tempfile.TemporaryDirectory(prefix="pictelle-psnr-") as work:
        for name in ["jpeg12", "jpeg2", "png_rgb", "png_rgba", "bmp24"]:
            files = sorted(glob.glob(os.path.join(CORPUS, name, "p*.*")))
            for p in (40, 10):
                ours_v, vips_v = [], []
                for f in files:
                    W, H = thumb_size(*identify(f), p)
                    ours, ref = os.path.join(work, "ours.bmp"), os.path.join(work, "ref.bmp")
                    vips = os.path.join(work, "vips.png")
                    sh(tool, str(p), f, ours)
                    sh("convert", f, "-filter", "Box", "-resize", f"{W}x{H}!", "BMP3:" + ref
                       if not name.endswith("rgba") else ref)
                    sh("vipsthumbnail", f, "-s", f"{W}x{H}!", "-o", vips)
                    ours_v.append(psnr(ours, ref))
                    vips_v.append(psnr(vips, ref))
                ours_all += ours_v
                vips_all += vips_v
                print(f"{name:<10} {p:>3} {len(ours_v):>5} {min(ours_v):>7.2f} "
                      f"{statistics.median(ours_v):>7.2f} {aggregate_psnr(ours_v):>7.2f}"
                      f" | vips {min(vips_v):>6.2f} {statistics.median(vips_v):>7.2f}"
                      f" {aggregate_psnr(vips_v):>7.2f}", flush=True)
    print(f"{'all':<10} {'':>3} {len(ours_all):>5} {min(ours_all):>7.2f} "
          f"{statistics.median(ours_all):>7.2f} {aggregate_psnr(ours_all):>7.2f}"
          f" | vips {min(vips_all):>6.2f} {statistics.median(vips_all):>7.2f}"
          f" {aggregate_psnr(vips_all):>7.2f}\n")


def qt_libraries(program):
    out = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    return sorted({line.split()[0] for line in out.splitlines() if "libQt" in line})


def converters(runs=200):
    """png2bmp on a 1-pixel PNG: the start-up cost every picture of a batch pays, beside a
    bare /bin/true for the cost of starting any process from here; and the Qt libraries the
    converters load."""
    png2bmp = os.path.join(BUILD, "bin", "png2bmp")
    with tempfile.TemporaryDirectory(prefix="pictelle-conv-") as work:
        src, dst = os.path.join(work, "one.png"), os.path.join(work, "one.bmp")
        sh("convert", "-size", "1x1", "xc:#336699", "PNG24:" + src)
        cmds = {"png2bmp": [png2bmp, "-O", dst, src], "true": ["/bin/true"]}
        for cmd in cmds.values():
            for _ in range(5):
                subprocess.run(cmd, check=True)
        walls = {k: [] for k in cmds}
        for _ in range(runs):
            for k, cmd in cmds.items():
                t0 = time.perf_counter()
                subprocess.run(cmd, check=True)
                walls[k].append(time.perf_counter() - t0)
    med = {k: statistics.median(v) * 1000 for k, v in walls.items()}
    FIGURES["png2bmp"] = med["png2bmp"]
    print(f"converters: png2bmp on a 1-pixel PNG, median of {runs} runs {med['png2bmp']:.2f} ms "
          f"(goal under 2 ms; /bin/true from here {med['true']:.2f} ms)")
    for name in ("png2bmp", "bmp2png"):
        libs = qt_libraries(os.path.join(BUILD, "bin", name))
        FIGURES["qt-" + name] = libs
        print(f"  {name} loads {', '.join(libs) if libs else 'no Qt library'} (ldd)")
    print()


def goals(rounds):
    """pictelle-batch beside vipsthumbnail on the figures that have goals, then the goals."""
    rows = [("png_rgb", 10), ("png_rgb", 40), ("png_rgba", 10), ("png_rgba", 40),
            ("png100", 10), ("bmp100", 10), ("jpeg12", 10), ("jpeg12", 40), ("jpeg100", 10)]
    if any("vipsthumbnail" in TIMES.get(row, {}) for row in rows):
        summary(rows, rounds)
    goal_table()


def summary(rows, rounds):
    print(f"summary: pictelle-batch vs vipsthumbnail, medians of {rounds} rounds; peak = GNU "
          f"time %M, the largest of the rounds (pictelle-batch's includes the converters it "
          f"waited for)")
    header = (f"{'set':<22} {'pictelle s':>10} {'vips s':>9} {'ratio':>6} {'pictelle MiB':>12} "
              f"{'vips MiB':>9}")
    print(header)
    print("-" * len(header))
    for name, p in rows:
        t = TIMES.get((name, p))
        if not t or "vipsthumbnail" not in t:
            continue
        (ours, ours_peak), (vips, vips_peak) = t["pictelle"], t["vipsthumbnail"]
        print(f"{label(name, p):<22} {ours:>10.3f} {vips:>9.3f} {ours / vips:>6.2f} "
              f"{ours_peak:>12.1f} {vips_peak:>9.1f}")
    print()


def goal_table():
    table = []

    def check(goal, value, text, met):
        table.append((goal, text if value is not None else "not run",
                      ("yes" if met else "NO") if value is not None else "-"))

    def ratio(name, p, other):
        t = TIMES.get((name, p), {})
        if "pictelle" in t and other in t:
            return t["pictelle"][0] / t[other][0]
        return None

    def peak(name, p):
        t = TIMES.get((name, p), {})
        return t["pictelle"][1] if "pictelle" in t else None

    for name in ("png_rgb", "png_rgba"):
        for p in (10, 40):
            r = ratio(name, p, "vipsthumbnail")
            check(f"{label(name, p)}: time <= 0.6x vips", r, f"{r or 0:.2f}x",
                  r is not None and r <= 0.6)
    r = ratio("png100", 10, "vipsthumbnail")
    check("png 100 MP p10: time <= 0.6x vips", r, f"{r or 0:.2f}x", r is not None and r <= 0.6)
    m = peak("png100", 10)
    check("png 100 MP p10: peak <= 64 MiB", m, f"{m or 0:.1f} MiB", m is not None and m <= 64)
    m = peak("bmp100", 10)
    check("bmp 100 MP p10: peak <= 64 MiB", m, f"{m or 0:.1f} MiB", m is not None and m <= 64)
    for p in (10, 40):
        r = ratio("jpeg12", p, "vipsthumbnail")
        check(f"{label('jpeg12', p)}: time <= 0.35x vips", r, f"{r or 0:.2f}x",
              r is not None and r <= 0.35)
        r = ratio("jpeg12", p, "jpeg-floor")
        check(f"{label('jpeg12', p)}: time <= 1.1x jpeg-floor", r, f"{r or 0:.2f}x",
              r is not None and r <= 1.1)
    m = peak("jpeg100", 10)
    check("jpeg 100 MP p10: peak <= 48 MiB", m, f"{m or 0:.1f} MiB", m is not None and m <= 48)
    v = FIGURES.get("png2bmp")
    check("png2bmp 1-pixel PNG: median < 2 ms", v, f"{v or 0:.2f} ms", v is not None and v < 2)
    for name in ("png2bmp", "bmp2png"):
        libs = FIGURES.get("qt-" + name)
        check(f"{name} loads no Qt library", libs,
              ", ".join(libs) if libs else "none", libs is not None and not libs)
    v = FIGURES.get("remove")
    check("list: remove 1,000 from top < 0.5 s", v, f"{v or 0:.3f} s", v is not None and v < 0.5)

    print("goals")
    width = max(len(g) for g, _, _ in table)
    fig = max(12, *(len(t) for _, t, _ in table))
    header = f"{'goal':<{width}}  {'figure':<{fig}}  met"
    print(header)
    print("-" * len(header))
    for goal, text, met in table:
        print(f"{goal:<{width}}  {text:<{fig}}  {met}")


def label(name, p):
    files = TIMES.get((name, p), {}).get("files")
    return {"png100": "png 100 MP", "bmp100": "bmp 100 MP", "jpeg100": "jpeg 100 MP"}.get(
        name, f"{name} {files} files" if files else name) + f" p{p}"


def private_env():
    home = tempfile.mkdtemp(prefix="pictelle-bench-home-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=home + "/config",
               XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home)
    os.chmod(home, 0o700)
    return env, home


def live(rounds):
    """Longest gap between turns of the window's event loop during a run of the 12 MP batch."""
    tool = os.path.join(BUILD, "bench", "bench-live")
    env, home = private_env()
    print("live: window running the jpeg12 batch, 5 ms probe timer")
    try:
        for p in (40, 10):
            worst = []
            for _ in range(rounds):
                work = tempfile.mkdtemp(prefix="pictelle-bench-")
                try:
                    files = []
                    for m in sorted(glob.glob(os.path.join(CORPUS, "jpeg12", "p*.jpg"))):
                        dst = os.path.join(work, os.path.basename(m))
                        shutil.copy(m, dst)
                        files.append(dst)
                    out = subprocess.run([tool, str(p), *files], env=env, capture_output=True,
                                         text=True, check=True).stdout
                    worst.append(float(out.split("worst ")[1].split()[0]))
                    last = out.strip()
                finally:
                    shutil.rmtree(work, ignore_errors=True)
            print(f"  p {p:>3}: worst gap median {statistics.median(worst):.1f} ms, "
                  f"max {max(worst):.1f} ms over {rounds} runs (last: {last})", flush=True)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    print()


def make_tree(root, folders=5000, per_folder=20):
    """100,000 files in 5,000 folders, 50 to a level-1 folder, mixed letter case."""
    for i in range(folders):
        d = os.path.join(root, f"g{i // 50:03d}", f"f{i:04d}")
        os.makedirs(d)
        for j in range(per_folder):
            ext = ("jpg", "JPG", "png", "jpeg")[j % 4]
            open(os.path.join(d, f"img{j:02d}.{ext}"), "w").close()


def scan(rounds):
    """AddFolder's scan of a 100,000-file tree vs find -iname, and a 100,000-entry list."""
    tool = os.path.join(BUILD, "bench", "bench-scan")
    env, home = private_env()
    root = tempfile.mkdtemp(prefix="pictelle-tree-")
    try:
        make_tree(root)
        ours, finds, lines, steps = [], [], [], {}
        for r in range(rounds):
            order = ["ours", "find"] if r % 2 == 0 else ["find", "ours"]
            for which in order:
                if which == "find":
                    t0 = time.perf_counter()
                    n = subprocess.run(["find", root, "-iname", "*.jpg"], capture_output=True,
                                       text=True, check=True).stdout.count("\n")
                    finds.append(time.perf_counter() - t0)
                else:
                    out = subprocess.run([tool, root, "*"], env=env, capture_output=True,
                                         text=True, check=True).stdout
                    ours.append(float(out.split("scan ")[1].split()[0]))
                    lines = out.strip().splitlines()
                    for line in lines:
                        step, seconds = line.split()[:2]
                        steps.setdefault(step, []).append(float(seconds))
        med_o, med_f = statistics.median(ours), statistics.median(finds)
        print(f"scan: 100,000 files in 5,000 folders; AddFolder {med_o:.3f} s, find -iname "
              f"{med_f:.3f} s ({n} files), ratio {med_o / med_f:.2f} (medians of {rounds})")
        for line in lines:
            print("  " + line)
        med = {step: statistics.median(v) for step, v in steps.items()}
        FIGURES["remove"] = med["remove"]
        print(f"  list, medians of {rounds}: append {med['append']:.3f} s, scroll "
              f"{med['scroll']:.3f} s, removing 1,000 entries from the top {med['remove']:.3f} s "
              f"(goal under 0.5 s)")
    finally:
        shutil.rmtree(root, ignore_errors=True)
        shutil.rmtree(home, ignore_errors=True)
    print()


if __name__ == "__main__":
    main()
