# SPDX-License-Identifier: MIT
"""PSNR of thumbnails, shared by the benchmark scripts (ImageMagick's compare)."""
import math
import statistics
import subprocess


def psnr(a, b):
    r = subprocess.run(["compare", "-metric", "PSNR", a, b, "null:"], capture_output=True,
                       text=True)
    text = r.stderr.strip().split()[0] if r.stderr.strip() else "nan"
    return float("inf") if text == "inf" else float(text)


def aggregate_psnr(values):
    """One PSNR over many pictures: from their mean squared error."""
    finite = [v for v in values if v != float("inf")]
    mse = [255.0 ** 2 / 10 ** (v / 10) for v in finite] + [0.0] * (len(values) - len(finite))
    mean = statistics.mean(mse)
    return float("inf") if mean == 0 else 10 * math.log10(255.0 ** 2 / mean)
