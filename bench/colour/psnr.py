#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Whether thumbnails of wide-gamut photos keep their colours.

    python3 bench/colour/psnr.py [--percent P] [--photos N] [--png] [BIN_FOLDER...]

A few photos of the benchmark corpus (bench/corpus/jpeg2, made by bench/thumbs/bench.py) are
converted with ImageMagick from sRGB to Adobe RGB (1998), ProPhoto RGB and Wide Gamut RGB
(profiles from Debian's colord-data), quality 95, each carrying its profile. Each program
folder's pictelle-batch and vipsthumbnail then make a thumbnail at P % (default 25; the JPEG
quality is P for both, as pictelle-batch sets it). Every thumbnail and the source are rendered
to sRGB through their own profiles (ImageMagick's -profile, which converts with LittleCMS; a
picture without a profile is taken as sRGB), the source then reduced to the thumbnail's size
with a box filter, and the PSNR of each thumbnail against that reference is printed, per photo
and as one figure over all photos (from their mean squared error). vipsthumbnail also runs at
its default quality (75) for comparison. With --png the sources and thumbnails are PNG
files carrying the profile in iCCP (through png2bmp and bmp2png), so no JPEG loss hides
what the colour handling does. Without BIN_FOLDER, build/bin. Installs
libvips-tools, imagemagick and colord-data when missing.
"""
import argparse
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import debian  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ICC = "/usr/share/color/icc/colord"
PROFILES = ["AdobeRGB1998", "ProPhotoRGB", "WideGamutRGB"]
SRGB = os.path.join(ICC, "sRGB.icc")


PACKAGES = ["libvips-tools", "imagemagick", "colord-data"]


def install():
    debian.install(PACKAGES)


def sh(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def psnr(a, b):
    r = subprocess.run(["compare", "-metric", "PSNR", a, b, "null:"], capture_output=True,
                       text=True)
    return float(r.stderr.split()[0])


def overall(values):
    """One PSNR over several pictures of the same size, from their mean squared error."""
    mse = sum(10 ** (-v / 10) for v in values) / len(values)
    return -10 * math.log10(mse)


def to_srgb(src, out, size=None):
    args = ["convert", src, "-profile", SRGB]
    if size:
        args += ["-filter", "Box", "-resize", f"{size[0]}x{size[1]}!"]
    sh(*args, "-depth", "8", f"PNG24:{out}")


def size_of(path):
    r = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                       check=True)
    return tuple(int(v) for v in r.stdout.split())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--percent", type=int, default=25)
    ap.add_argument("--photos", type=int, default=3)
    ap.add_argument("--png", action="store_true", help="PNG sources and thumbnails")
    ap.add_argument("bins", nargs="*")
    a = ap.parse_args()
    install()
    bins = [os.path.abspath(b) for b in a.bins] or [os.path.join(ROOT, "build", "bin")]
    corpus = os.path.join(ROOT, "bench", "corpus", "jpeg2")
    photos = sorted(os.listdir(corpus))[: a.photos]
    if not photos:
        sys.exit("psnr: no photos in bench/corpus/jpeg2; run bench/thumbs/bench.py once first")
    p = a.percent
    ext = "png" if a.png else "jpg"
    qualities = [None] if a.png else [p, 75]
    tools = [f"pictelle {os.path.relpath(b, ROOT)}" for b in bins] + [
        f"vipsthumbnail Q={q}" if q else "vipsthumbnail" for q in qualities]
    print(f"colour: PSNR (dB) of {ext.upper()} thumbnails at {p} % against the source, both"
          " rendered to sRGB")
    print(f"{'profile':<14} {'photo':<10} " + " ".join(f"{t:>24}" for t in tools))
    results = {t: {} for t in tools}
    with tempfile.TemporaryDirectory(prefix="pictelle-colour-") as work:
        for prof in PROFILES:
            for photo in photos:
                stem = f"{prof}-{os.path.splitext(photo)[0]}"
                src = os.path.join(work, f"{stem}.{ext}")
                sh("convert", os.path.join(corpus, photo), "-profile", SRGB, "-profile",
                   os.path.join(ICC, prof + ".icc"), "-quality", "95", src)
                thumbs = []
                for i, b in enumerate(bins):
                    d = os.path.join(work, f"bin{i}")
                    os.makedirs(d, exist_ok=True)
                    copy = os.path.join(d, f"{stem}.{ext}")
                    sh("cp", src, copy)
                    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"),
                               XDG_CONFIG_HOME=os.path.join(work, "config"))
                    subprocess.run([os.path.join(b, "pictelle-batch"), "-p", str(p), copy],
                                   check=True, env=env, stdout=subprocess.DEVNULL)
                    thumbs.append(os.path.join(d, f"t{stem}.{ext}"))
                w, h = size_of(thumbs[0])
                for q in qualities:
                    out = os.path.join(work, f"v{q}-{stem}.{ext}")
                    sh("vipsthumbnail", src, "-s", f"{w}x{h}!", "-o", out + (f"[Q={q}]" if q else ""))
                    thumbs.append(out)
                ref = os.path.join(work, stem + "-ref.png")
                to_srgb(src, ref, (w, h))
                row = []
                for tool, thumb in zip(tools, thumbs):
                    rendered = thumb + ".png"
                    to_srgb(thumb, rendered)
                    v = psnr(rendered, ref)
                    results[tool].setdefault(prof, []).append(v)
                    row.append(v)
                print(f"{prof:<14} {photo:<10} " + " ".join(f"{v:>24.2f}" for v in row),
                      flush=True)
            print(f"{prof:<14} {'all':<10} "
                  + " ".join(f"{overall(results[t][prof]):>24.2f}" for t in tools), flush=True)


if __name__ == "__main__":
    main()
