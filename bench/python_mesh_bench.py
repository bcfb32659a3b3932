#!/usr/bin/env python3
"""A polygon object of a million points written and read back through the Python module,
beside the same round trip through the library alone (C++, inside the same module and process),
timed in turns.

usage: PYTHONPATH=build/python python3 bench/python_mesh_bench.py [POINTS] [PAIRS]

Both paths do the same work: a new PolygonObject takes the points ((n, 3) float64) and the
polygons ((n / 2, 4) int32), goes into an object list written to a file, the file is read back
into a new list, and the geometry of the object read is copied out. The Python path does it
with PolygonObject.set_geometry, lumora.write_objects, lumora.read_objects and the points and
polygons properties; the C++ path with PolygonObject::Alloc, memcpy, WriteObject and the read
the module uses. The ratio C++ / Python of a pair is the Python path's share of the C++ speed
(goal: at least 0.8). Prints the median and spread (lowest - highest) of the ratios and of both
times.
"""
import os
import sys
import tempfile
import time

import numpy as np

import lumora
from python_points_bench import report  # beside this file


def python_path(points, polygons, path):
    start = time.perf_counter()
    objects = lumora.RootObject()
    mesh = lumora.PolygonObject()
    objects.append(mesh)
    mesh.set_geometry(points, polygons)
    lumora.write_objects(path, objects)
    del objects, mesh
    back = lumora.read_objects(path)
    got_points, got_polygons = back[0].points, back[0].polygons
    del back  # the C++ path frees what it read inside its time too
    elapsed = time.perf_counter() - start
    if not (np.array_equal(got_points, points) and np.array_equal(got_polygons, polygons)):
        raise SystemExit("python_mesh_bench: the mesh did not read back")
    return elapsed


def main(argv):
    n = int(argv[1]) if len(argv) > 1 else 1_000_000
    pairs = int(argv[2]) if len(argv) > 2 else 15
    rng = np.random.default_rng(1)
    points = rng.random((n, 3))
    polygons = rng.integers(0, n, size=(n // 2, 4), dtype=np.int32)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "mesh.lum")
        python_path(points, polygons, path)  # warm the page cache and the allocator
        lumora._mesh_round_trip_cpp(points, polygons, path)
        cpp, py = [], []
        for _ in range(pairs):
            cpp.append(lumora._mesh_round_trip_cpp(points, polygons, path))
            py.append(python_path(points, polygons, path))
    report(f"points: {n}, polygons: {n // 2}, pairs: {pairs}", cpp, py)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
