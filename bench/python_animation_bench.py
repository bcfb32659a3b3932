#!/usr/bin/env python3
"""CCurve.values_at over a million times from Python, beside the same evaluations in a C++ loop
inside the same module and process, timed in turns.

usage: PYTHONPATH=build/python python3 bench/python_animation_bench.py [TIMES] [PAIRS] [KEYS]

The curve is a spline of KEYS keys (default 10,000) a frame (1/120 s) apart with random values
and tangents; the times are random over it. Each pair times the C++ loop (CCurve::GetValue per
time, into a buffer), then the Python path (values_at on a float64 array, returning a new
array), on wall-clock time; the ratio C++ / Python of a pair is the Python path's share of the
C++ speed (goal: at least 0.8). Prints the median and spread (lowest - highest) of the ratios
and of both times.
"""
import sys
import time

import numpy as np

import lumora
from python_points_bench import report  # beside this file


def spline_curve(keys):
    o = lumora.BaseObject()
    curve = o.make_track(lumora.DescID((903, 23, 0), (1000, 19, 0)), "x").curve
    rng = np.random.default_rng(2)
    for i, (v, vl, vr) in enumerate(rng.uniform(-1, 1, (keys, 3))):
        k = curve.add_key(lumora.BaseTime(i, 120))
        k.value, k.value_left, k.value_right = v, 0.01 * vl, 0.01 * vr
        k.time_left, k.time_right = lumora.BaseTime(-1, 480), lumora.BaseTime(1, 480)
    return o, curve


def python_path(curve, times):
    start = time.perf_counter()
    values = curve.values_at(times)
    elapsed = time.perf_counter() - start
    if values.shape != times.shape:
        raise SystemExit("python_animation_bench: values_at gave the wrong shape")
    return elapsed


def main(argv):
    n = int(argv[1]) if len(argv) > 1 else 1_000_000
    pairs = int(argv[2]) if len(argv) > 2 else 15
    keys = int(argv[3]) if len(argv) > 3 else 10_000
    o, curve = spline_curve(keys)
    times = np.random.default_rng(1).uniform(0, (keys - 1) / 120, n)
    probe = times[:: max(1, n // 100)]
    if not np.array_equal(curve.values_at(probe), [curve.value_at(t) for t in probe]):
        raise SystemExit("python_animation_bench: values_at differs from value_at")
    python_path(curve, times)  # warm up
    lumora._values_at_cpp(curve, times)
    cpp, py = [], []
    for _ in range(pairs):
        cpp.append(lumora._values_at_cpp(curve, times))
        py.append(python_path(curve, times))
    report(f"values_at: {n} times on {keys} keys, pairs: {pairs}", cpp, py)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
