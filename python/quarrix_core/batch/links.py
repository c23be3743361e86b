"""Which entries of a manifest depend on which: their `depends:` names and what their checkouts declare.

A `depends:` name is an entry's namespace or, when one entry alone has it,
its repository's name (`common_cells`); a name that is neither makes the
entry "missing-dependency". A declared URL is matched to an entry by
`url_match_key`; one that matches none is listed as unmatched and is not an
error. Entries on a cycle are "dependency-cycle", named along the cycle.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field

from .manifest import RepoSpec, checkout_name, url_match_key

MANIFEST = "manifest"


@dataclass
class Links:
    deps: dict = field(default_factory=dict)        # index -> {dependency index: [declared by, ...]}
    unmatched: dict = field(default_factory=dict)   # index -> declared URLs that name no entry
    problems: dict = field(default_factory=dict)    # index -> (status, error): not to be scanned

    def order(self, indices) -> list:
        """`indices` with every entry after its dependencies (the problems' left out), manifest order otherwise."""
        done: set = set()
        out: list = []

        def visit(i: int) -> None:
            if i in done:
                return
            done.add(i)
            for d in sorted(self.deps.get(i, {})):
                visit(d)
            out.append(i)

        wanted = set(indices)
        for i in sorted(wanted):
            visit(i)
        return [i for i in out if i in wanted and i not in self.problems]


def link(specs: list, declared: dict) -> Links:
    """`declared`: index -> the Declared of that entry's checkout."""
    links = Links()
    by_key = {_match_key(s): s.index for s in specs if s.error is None}
    by_namespace = {s.namespace: s.index for s in specs if s.namespace}
    by_name: dict = {}
    for s in specs:
        if s.error is None:
            by_name.setdefault(checkout_name(s.source), []).append(s.index)
    for spec in specs:
        if spec.error is not None:
            continue
        deps: dict = {}
        for name in spec.depends:
            target = by_namespace.get(name)
            if target is None and len(by_name.get(name, [])) == 1:
                target = by_name[name][0]
            if target is None:
                links.problems[spec.index] = (
                    "missing-dependency", f"depends on {name!r}, which is no entry of the manifest"
                    + (" (several entries have that name: give the namespace)" if by_name.get(name) else ""))
                break
            deps.setdefault(target, []).append(MANIFEST)
        for dep in declared.get(spec.index, []):
            target = by_key.get(url_match_key(dep.url))
            if target is None:
                links.unmatched.setdefault(spec.index, []).append(dep.url)
            elif target != spec.index:
                by = deps.setdefault(target, [])
                if dep.file not in by:
                    by.insert(0, dep.file)
        links.deps[spec.index] = deps
    for cycle in _cycles(links.deps):
        names = " -> ".join(specs[i].namespace for i in [*cycle, cycle[0]])
        for i in cycle:
            links.problems.setdefault(i, ("dependency-cycle", f"dependency cycle: {names}"))
    return links


def _match_key(spec: RepoSpec) -> str:
    return url_match_key(spec.url) if spec.url else "file:" + os.path.realpath(spec.path or "")


def _cycles(deps: dict) -> list:
    """Each strongly connected set of entries that holds a cycle, as one cycle through its first entry."""
    index: dict = {}
    low: dict = {}
    stack: list = []
    on_stack: set = set()
    found: list = []
    counter = 0
    for root in sorted(deps):
        if root in index:
            continue
        work = [(root, iter(sorted(deps.get(root, {}))))]
        index[root] = low[root] = counter
        counter += 1
        stack.append(root)
        on_stack.add(root)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is not None:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(deps.get(child, {})))))
                elif child in on_stack:
                    low[node] = min(low[node], index[child])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                members = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    members.append(member)
                    if member == node:
                        break
                if len(members) > 1 or node in deps.get(node, {}):
                    found.append(_cycle_through(min(members), set(members), deps))
    return found


def _cycle_through(start: int, members: set, deps: dict) -> list:
    """A shortest path from `start` back to itself within `members`."""
    came_from = {start: None}
    frontier = [start]
    while frontier:
        nxt = []
        for node in frontier:
            for child in sorted(deps.get(node, {})):
                if child == start:
                    path = [node]
                    while came_from[path[-1]] is not None:
                        path.append(came_from[path[-1]])
                    return path[::-1]
                if child in members and child not in came_from:
                    came_from[child] = node
                    nxt.append(child)
        frontier = nxt
    return [start]
