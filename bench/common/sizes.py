# SPDX-License-Identifier: MIT
"""The thumbnail's size as Pictelle computes it, for the benchmarks that ask another tool for
the same size."""
import struct


def thumb_size(w, h, p):
    """W x H at P percent: the factor as a single-precision float, each side rounded half to
    even, at least 1."""
    f = struct.unpack("f", struct.pack("f", p / 100.0))[0]
    return max(1, round(w * f)), max(1, round(h * f))
