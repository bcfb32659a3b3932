#!/usr/bin/env python3
"""Reads a list of objects written by lumora and prints its hierarchy, one object a line, with
the object's tags and tracks beneath it.

usage: print_hierarchy.py FILE

An object's line shows its name, its class and type id, and its geometry when it has any; a
tag's line its class and type id; a track's line its name and how many keys its curve holds.
Children are indented under their parent.
"""
import sys

import lumora


def print_object(obj, depth):
    pad = "  " * depth
    line = f"{pad}{obj.name or '(unnamed)'}  [{type(obj).__name__} {obj.type}]"
    if isinstance(obj, lumora.PolygonObject):
        line += f"  {obj.point_count} points, {obj.polygon_count} polygons"
    elif isinstance(obj, lumora.PointObject):
        line += f"  {obj.point_count} points"
    print(line)
    for tag in obj.tags:
        print(f"{pad}  tag {type(tag).__name__} {tag.type}" + (f" {tag.name!r}" if tag.name else ""))
    for track in obj.tracks:
        print(f"{pad}  track {track.name!r}: {len(track.curve)} keys")
    for child in obj.children:
        print_object(child, depth + 1)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[3], file=sys.stderr)
        return 2
    try:
        objects = lumora.read_objects(argv[1])
    except lumora.FileError as error:
        print(f"print_hierarchy.py: {error}", file=sys.stderr)
        return 1
    for obj in objects:
        print_object(obj, 0)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
