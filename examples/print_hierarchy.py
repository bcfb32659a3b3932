#!/usr/bin/env python3
"""Reads a list of nodes written by lumora and prints its hierarchy, one node a line.

usage: print_hierarchy.py FILE

Each line shows the node's name, its class and type id, and the number of parameters in its
container, indented by its depth under the list.
"""
import sys

import lumora


def print_node(node, depth):
    print(f"{'  ' * depth}{node.name or '(unnamed)'}  [{type(node).__name__} {node.type}, "
          f"parameters: {len(node.data)}]")
    for child in node.children:
        print_node(child, depth + 1)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        with lumora.HyperFile(argv[1], "r") as hf:
            nodes = lumora.RootPluginNode.read(hf)
    except lumora.FileError as error:
        print(f"print_hierarchy.py: {error}", file=sys.stderr)
        return 1
    for node in nodes:
        print_node(node, 0)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
