#!/usr/bin/env python3
"""Building a chain of objects, each under the one before, through the Python module: a chain
20,000 deep beside one 2,000 deep, timed in turns.

usage: PYTHONPATH=build/python python3 bench/python_chain_bench.py [DEPTH] [PAIRS]

The limit is the same work at a tenth of the depth; the figure is the full depth. The ratio
figure / limit of a pair should stay near 10 (linear growth; a walk up the chain at every
insertion makes it near 100). Prints the median and spread (lowest - highest) of both times and
of the ratios; the goal counts as met when the whole spread lies at or below 15.
"""
import statistics
import sys
import time

import lumora


def build(depth):
    start = time.perf_counter()
    objects = lumora.RootObject()
    top = lumora.BaseObject.alloc(lumora.TYPE_OBJECT)
    objects.append(top)
    parent = top
    for _ in range(depth - 1):
        child = lumora.BaseObject.alloc(lumora.TYPE_OBJECT)
        child.insert_under(parent)
        parent = child
    elapsed = time.perf_counter() - start
    del objects, top, parent  # freed outside the time
    return elapsed


def main(argv):
    depth = int(argv[1]) if len(argv) > 1 else 20_000
    pairs = int(argv[2]) if len(argv) > 2 else 10
    build(depth // 10)
    build(depth)
    limit, figure = [], []
    for _ in range(pairs):
        limit.append(build(depth // 10))
        figure.append(build(depth))
    ratios = [f / l for f, l in zip(figure, limit)]
    load = open("/proc/loadavg").read().split()[:3]
    print(f"chain depth {depth} beside {depth // 10}, pairs: {pairs}, load average: {' '.join(load)}")
    for name, values in ((f"depth {depth // 10} ms", [t * 1e3 for t in limit]),
                         (f"depth {depth} ms", [t * 1e3 for t in figure]),
                         ("ratio", ratios)):
        print(f"{name:18} median {statistics.median(values):8.3f}   spread "
              f"{min(values):8.3f} - {max(values):8.3f}")
    verdict = "met" if max(ratios) <= 15 else "crosses" if min(ratios) <= 15 else "NOT MET"
    print(f"goal <= 15 (linear: 10): {verdict} (median {statistics.median(ratios):.2f})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
