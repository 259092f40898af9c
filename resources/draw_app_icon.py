#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws Pictelle's application icon: a framed landscape photograph with its own reduced
copy in front of it.

The drawing is a list of shapes in a 1 x 1 square. It is written once as SVG
(icons/pictelle.svg) and rasterised, 4 x 4 samples a pixel, into the PNG sizes of the
icon theme (icons/pictelle-<size>.png). Only Python's standard library is used; run it
again after changing the drawing and commit the files it writes.
"""
import math
import os

from draw_resources import png_file

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4


def photo(x0, y0, x1, y1, border):
    """A white-framed photograph of a sunny hill in the box (x0, y0)-(x1, y1)."""
    w, h = x1 - x0, y1 - y0
    ix0, iy0, ix1, iy1 = x0 + border, y0 + border, x1 - border, y1 - border
    iw, ih = ix1 - ix0, iy1 - iy0
    radius = border * 0.6
    return [
        ("rect", (x0 + w * 0.03, y0 + h * 0.05, x1 + w * 0.03, y1 + h * 0.05, radius),
         (0, 0, 0, 70)),  # shadow
        ("rect", (x0, y0, x1, y1, radius), (150, 150, 160, 255)),
        ("rect", (x0 + border * 0.15, y0 + border * 0.15, x1 - border * 0.15,
                  y1 - border * 0.15, radius * 0.8), (255, 255, 255, 255)),
        ("vgradient", (ix0, iy0, ix1, iy1), ((70, 140, 225, 255), (175, 215, 250, 255))),
        ("circle", (ix0 + iw * 0.74, iy0 + ih * 0.30, min(iw, ih) * 0.15), (250, 205, 60, 255)),
        ("clipcircle", (ix0 + iw * 0.22, iy0 + ih * 1.55, iw * 0.85, (ix0, iy0, ix1, iy1)),
         (70, 160, 70, 255)),
        ("clipcircle", (ix0 + iw * 0.95, iy0 + ih * 1.75, iw * 0.80, (ix0, iy0, ix1, iy1)),
         (40, 115, 50, 255)),
    ]


SHAPES = photo(0.05, 0.08, 0.80, 0.66, 0.045) + photo(0.50, 0.52, 0.95, 0.87, 0.03)


def inside(kind, geometry, x, y):
    if kind in ("rect", "vgradient"):
        x0, y0, x1, y1 = geometry[:4]
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        r = geometry[4] if kind == "rect" else 0
        if r <= 0:
            return True
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "circle":
        cx, cy, r = geometry
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    cx, cy, r, (x0, y0, x1, y1) = geometry  # clipcircle
    return x0 <= x < x1 and y0 <= y < y1 and (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def bounds(kind, geometry):
    if kind in ("rect", "vgradient"):
        return geometry[:4]
    if kind == "circle":
        cx, cy, r = geometry
        return cx - r, cy - r, cx + r, cy + r
    cx, cy, r, (x0, y0, x1, y1) = geometry
    return max(cx - r, x0), max(cy - r, y0), min(cx + r, x1), min(cy + r, y1)


def colour_at(kind, geometry, fill, y):
    if kind != "vgradient":
        return fill
    top, bottom = fill
    t = min(max((y - geometry[1]) / (geometry[3] - geometry[1]), 0.0), 1.0)
    return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))


def rasterise(size):
    """The drawing as size x size RGBA pixels (straight alpha)."""
    canvas = [[[0.0, 0.0, 0.0, 0.0] for _ in range(size)] for _ in range(size)]  # premultiplied
    for kind, geometry, fill in SHAPES:
        bx0, by0, bx1, by1 = bounds(kind, geometry)
        for py in range(max(0, math.floor(by0 * size)), min(size, math.ceil(by1 * size))):
            y = (py + 0.5) / size
            r, g, b, a = colour_at(kind, geometry, fill, y)
            for px in range(max(0, math.floor(bx0 * size)), min(size, math.ceil(bx1 * size))):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(kind, geometry, (px + (sx + 0.5) / SAMPLES) / size,
                                  (py + (sy + 0.5) / SAMPLES) / size):
                            hits += 1
                if not hits:
                    continue
                alpha = a / 255.0 * hits / (SAMPLES * SAMPLES)
                dst = canvas[py][px]
                for i, c in enumerate((r, g, b)):
                    dst[i] = c * alpha + dst[i] * (1 - alpha)
                dst[3] = alpha + dst[3] * (1 - alpha)
    pixels = []
    for row in canvas:
        out = []
        for r, g, b, a in row:
            if a <= 0:
                out.append((0, 0, 0, 0))
            else:
                out.append(tuple(min(255, round(c / a)) for c in (r, g, b)) + (round(a * 255),))
        pixels.append(out)
    return pixels


def svg():
    """The drawing as an SVG document of 256 x 256 units."""
    s = 256

    def n(v):
        return f"{v * s:.2f}".rstrip("0").rstrip(".")

    def rgba(c):
        return f'fill="rgb({c[0]},{c[1]},{c[2]})"' + (
            f' fill-opacity="{c[3] / 255:.3f}"' if c[3] != 255 else "")

    defs, body = [], []
    for i, (kind, g, fill) in enumerate(SHAPES):
        if kind == "rect":
            x0, y0, x1, y1, r = g
            body.append(f'<rect x="{n(x0)}" y="{n(y0)}" width="{n(x1 - x0)}" '
                        f'height="{n(y1 - y0)}" rx="{n(r)}" {rgba(fill)}/>')
        elif kind == "vgradient":
            x0, y0, x1, y1 = g
            top, bottom = fill
            defs.append(f'<linearGradient id="g{i}" x1="0" y1="0" x2="0" y2="1">'
                        f'<stop offset="0" stop-color="rgb{top[:3]}"/>'
                        f'<stop offset="1" stop-color="rgb{bottom[:3]}"/></linearGradient>')
            body.append(f'<rect x="{n(x0)}" y="{n(y0)}" width="{n(x1 - x0)}" '
                        f'height="{n(y1 - y0)}" fill="url(#g{i})"/>')
        elif kind == "circle":
            cx, cy, r = g
            body.append(f'<circle cx="{n(cx)}" cy="{n(cy)}" r="{n(r)}" {rgba(fill)}/>')
        else:
            cx, cy, r, (x0, y0, x1, y1) = g
            defs.append(f'<clipPath id="c{i}"><rect x="{n(x0)}" y="{n(y0)}" '
                        f'width="{n(x1 - x0)}" height="{n(y1 - y0)}"/></clipPath>')
            body.append(f'<circle cx="{n(cx)}" cy="{n(cy)}" r="{n(r)}" {rgba(fill)} '
                        f'clip-path="url(#c{i})"/>')
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
            'viewBox="0 0 256 256">\n<defs>' + "".join(defs) + "</defs>\n"
            + "\n".join(body) + "\n</svg>\n")


def main():
    folder = os.path.join(HERE, "icons")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "pictelle.svg"), "w") as f:
        f.write(svg())
    for size in SIZES:
        with open(os.path.join(folder, f"pictelle-{size}.png"), "wb") as f:
            f.write(png_file(rasterise(size)))


if __name__ == "__main__":
    main()
