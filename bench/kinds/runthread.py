#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""How much of a pictelle-batch run's processor time its run thread takes, per kind.

Run by hand, never by ctest:  python3 bench/kinds/runthread.py [--build DIR] [--rounds N]
              [--kinds jpeg,webp,tiff,gif] [--percent 10,40]

The run thread writes in list order; the workers and their reading programs do the rest. The
run thread's share s of all the processor time (pictelle-batch's and its children's) bounds
the speed-up on n cores at 1 / (s + (1 - s) / n) (Amdahl). Unlike wall times this hardly
moves with the machine's load, so it can be measured on a busy machine. The thread's time is
sampled from /proc every 5 ms; medians of N rounds over the pictures bench.py uses (a
reading program that a run thread waits for counts as the workers', so compare builds that
read the same way).
"""

import argparse
import glob
import os
import shutil
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(ROOT, "bench", "corpus")
SOURCES = {"jpeg": ("jpeg12", ".jpg"), "webp": ("kinds", ".webp"), "tiff": ("kinds", ".tif"),
           "gif": ("kinds", ".gif")}
TICK = os.sysconf("SC_CLK_TCK")


def thread_ticks(stat):
    try:
        with open(stat) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except (OSError, IndexError):
        return None


def share(batch, percent, files):
    """The run thread's share of the processor time of one run."""
    before = os.times()
    run = subprocess.Popen([batch, "-p", str(percent), *files], stdout=subprocess.DEVNULL)
    main = 0
    while run.poll() is None:
        ticks = thread_ticks(f"/proc/{run.pid}/task/{run.pid}/stat")
        main = ticks if ticks is not None else main
        time.sleep(0.005)
    after = os.times()
    total = (after.children_user + after.children_system
             - before.children_user - before.children_system)
    return main / TICK / total if total else 0.0, total


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--kinds", default="jpeg,webp,tiff,gif")
    ap.add_argument("--percent", default="10,40")
    args = ap.parse_args()
    batch = os.path.join(os.path.abspath(args.build), "bin", "pictelle-batch")
    for kind in args.kinds.split(","):
        folder, ext = SOURCES[kind]
        sources = sorted(glob.glob(os.path.join(CORPUS, folder, "*" + ext)))[:6]
        if not sources:
            raise SystemExit(f"no {kind} pictures: run bench/kinds/bench.py once first")
        for percent in (int(p) for p in args.percent.split(",")):
            results = []
            for _ in range(args.rounds):
                with tempfile.TemporaryDirectory(prefix="pictelle-share-") as work:
                    files = [shutil.copy(f, work) for f in sources]
                    results.append(share(batch, percent, files))
            s = statistics.median(r[0] for r in results)
            cpu = statistics.median(r[1] for r in results)
            bound = [1 / (s + (1 - s) / n) for n in (2, 4, 16)]
            print(f"{kind:<5} {percent:>3}%  processor {cpu:6.2f}s  run thread {s * 100:5.1f}%"
                  f"  at most {bound[0]:4.2f}x on 2 cores, {bound[1]:4.2f}x on 4,"
                  f" {bound[2]:5.2f}x on 16", flush=True)


if __name__ == "__main__":
    main()
