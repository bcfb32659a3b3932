#!/usr/bin/env python3
"""A million points written and read back through the Python module, beside the same round
trip through the library alone (C++, inside the same module and process), timed in turns.

usage: PYTHONPATH=build/python python3 bench/python_points_bench.py [POINTS] [PAIRS]

Each pair times the C++ path, then the Python path (HyperFile.write_vector_array from an
(n, 3) float64 array, HyperFile.read_vector_array back into one), on wall-clock time; the ratio
C++ / Python of a pair is the Python path's share of the C++ speed (goal: at least 0.8). Prints
the median and spread (lowest - highest) of the ratios and of both times.
"""
import os
import statistics
import sys
import tempfile
import time

import numpy as np

import lumora


def python_path(points, path):
    start = time.perf_counter()
    with lumora.HyperFile(path, "w") as hf:
        hf.write_vector_array(points)
    with lumora.HyperFile(path) as hf:
        back = hf.read_vector_array()
    elapsed = time.perf_counter() - start
    if back.shape != points.shape or not np.array_equal(back, points):
        raise SystemExit("python_points_bench: the points did not read back")
    return elapsed


def main(argv):
    n = int(argv[1]) if len(argv) > 1 else 1_000_000
    pairs = int(argv[2]) if len(argv) > 2 else 15
    points = np.random.default_rng(1).random((n, 3))
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "points.lum")
        python_path(points, path)  # warm the page cache and the allocator
        lumora._points_round_trip_cpp(points, path)
        cpp, py = [], []
        for _ in range(pairs):
            cpp.append(lumora._points_round_trip_cpp(points, path))
            py.append(python_path(points, path))
    report(f"points: {n}, pairs: {pairs}", cpp, py)
    return 0


def report(title, cpp, py):
    """Prints both paths' times and their ratios (median and spread) against the goal of 0.8."""
    ratios = [c / p for c, p in zip(cpp, py)]
    load = open("/proc/loadavg").read().split()[:3]
    print(f"{title}, load average: {' '.join(load)}")
    for name, values in (("C++ path ms", [c * 1e3 for c in cpp]),
                         ("Python path ms", [p * 1e3 for p in py]),
                         ("ratio C++/Python", ratios)):
        print(f"{name:18} median {statistics.median(values):8.3f}   spread "
              f"{min(values):8.3f} - {max(values):8.3f}")
    print(f"goal >= 0.8: {'met' if min(ratios) >= 0.8 else 'crosses' if max(ratios) >= 0.8 else 'NOT MET'}"
          f" (median {statistics.median(ratios):.3f})")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
