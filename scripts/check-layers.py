#!/usr/bin/env python3
"""Checks that no area of the core includes a higher one.

The areas, lowest first. An area may include its own headers and those of
the areas before it; anything else is an upward include and fails the check.

  check-layers.py            check; list each upward include and exit 1
  check-layers.py --graph    print which areas each area includes, and how often
  check-layers.py --dot      the same as a Graphviz digraph
"""
import argparse
import collections
import pathlib
import re
import sys

AREAS = ["util", "validator", "hdl", "repo", "resolver", "tags", "license", "llm",
         "describe", "aggregate", "probes", "pipeline"]

ROOT = pathlib.Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]quarrix/([A-Za-z0-9_]+)/', re.M)


def includes():
    """(including area, file, included area) for each core include between areas."""
    for base in (ROOT / "src", ROOT / "include" / "quarrix"):
        for path in sorted(base.rglob("*")):
            if path.suffix not in (".hpp", ".cpp", ".h"):
                continue
            area = path.relative_to(base).parts[0]
            for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
                yield area, path.relative_to(ROOT), target


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--graph", action="store_true")
    parser.add_argument("--dot", action="store_true")
    args = parser.parse_args()
    rank = {area: i for i, area in enumerate(AREAS)}
    edges = collections.Counter()
    problems = []
    for area, path, target in includes():
        if area not in rank or target not in rank:
            problems.append(f"{path}: area {area if area not in rank else target!r} is not in the layer order")
        elif rank[target] > rank[area]:
            problems.append(f"{path}: {area} includes the higher area {target}")
        if area != target:
            edges[area, target] += 1
    if args.graph:
        for area in reversed(AREAS):
            below = [f"{t} ({edges[area, t]})" for t in reversed(AREAS) if edges[area, t]]
            print(f"{area:10} -> {', '.join(below) if below else '-'}")
    if args.dot:
        print("digraph areas {\n  rankdir=TB;\n  node [shape=box, fontname=Helvetica];")
        for (area, target), count in sorted(edges.items()):
            up = area in rank and target in rank and rank[target] > rank[area]
            print(f'  {area} -> {target} [label="{count}"{", color=red" if up else ""}];')
        print("}")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
