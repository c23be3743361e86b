"""The registry picture: a batch's repositories and what each takes from another, from WORK_DIR/graph.json.

quarrix-batch writes the file at the end of every run. Its strings come from
manifests and published repositories, so each value is checked on its own:
a repository entry without a usable namespace is left out, an edge whose
ends are not both listed repositories is ignored, a field of the wrong type
counts as absent, and the page says how many were left out and why. Strings
reach the DOT text only through graph.dot_quote, node names are our own.
"""

from __future__ import annotations

import dataclasses
import json
import os
from urllib.parse import urlencode

from . import graph
from .verdict_file import Unusable, open_regular

GRAPH_FILE = "graph.json"
MAX_GRAPH_BYTES = 64 * 1024 * 1024
# What a batch entry's status says about its repository, for the picture's marks.
FAILED_STATUSES = ("failed", "interrupted")
CYCLE_WORD = "cycle"
_NODE_STYLE = {
    "ok": 'style=filled, fillcolor="#dbe9f7"',
    "failed": 'style=filled, fillcolor="#fde4e4", color="#b0262b", penwidth=2',
    "cycle": 'style="filled,bold", fillcolor="#fff0d6", color="#c77700", penwidth=2',
}


class RegistryUnavailable(Exception):
    """Why there is no registry to show; the message is for the page."""


@dataclasses.dataclass(frozen=True)
class Repository:
    namespace: str
    url: str
    commit: str
    status: str
    rows: int | None          # None when the file gives no count

    @property
    def mark(self) -> str:
        """"cycle", "failed" or "ok": how the picture and the table mark the entry."""
        status = self.status.lower()
        if CYCLE_WORD in status:
            return "cycle"
        return "failed" if status in FAILED_STATUSES else "ok"


@dataclasses.dataclass(frozen=True)
class Dependency:
    source: str               # the repository that takes units
    target: str               # the one it takes them from
    declared_by: tuple
    units: tuple              # empty: declared, but nothing of it is used


@dataclasses.dataclass
class Registry:
    repositories: list
    edges: list
    ignored: dict             # why something of the file was left out -> how many times


def _text(value) -> str:
    return value if isinstance(value, str) else ""


def _strings(value) -> tuple:
    return tuple(dict.fromkeys(v for v in value if isinstance(v, str))) if isinstance(value, list) else ()


def parse(doc) -> Registry:
    """The registry a parsed graph.json describes; RegistryUnavailable when it is not one."""
    if not isinstance(doc, dict) or not isinstance(doc.get("repositories"), list):
        raise RegistryUnavailable(f"{GRAPH_FILE} holds no list of repositories")
    ignored: dict = {}

    def ignore(why: str) -> None:
        ignored[why] = ignored.get(why, 0) + 1

    repositories: dict = {}
    for entry in doc["repositories"]:
        namespace = entry.get("namespace") if isinstance(entry, dict) else None
        if not isinstance(namespace, str) or not namespace.strip():
            ignore("repository entries without a namespace")
            continue
        if namespace in repositories:
            ignore("repository entries listed again")
            continue
        rows = entry.get("rows")
        repositories[namespace] = Repository(
            namespace, _text(entry.get("url")), _text(entry.get("commit")), _text(entry.get("status")),
            rows if isinstance(rows, int) and not isinstance(rows, bool) and rows >= 0 else None)
    edges: dict = {}
    raw_edges = doc.get("edges", [])
    for entry in raw_edges if isinstance(raw_edges, list) else ():
        source = entry.get("from") if isinstance(entry, dict) else None
        target = entry.get("to") if isinstance(entry, dict) else None
        if source not in repositories or target not in repositories:
            ignore("edges naming a repository the file does not list")
            continue
        if source == target:
            ignore("edges from a repository to itself")
            continue
        # The same pair listed twice is one dependency: what either entry says.
        before = edges.get((source, target))
        declared, units = _strings(entry.get("declared_by")), _strings(entry.get("units"))
        if before is not None:
            declared = tuple(dict.fromkeys(before.declared_by + declared))
            units = tuple(dict.fromkeys(before.units + units))
        edges[(source, target)] = Dependency(source, target, declared, units)
    return Registry(list(repositories.values()), list(edges.values()), ignored)


def load(path) -> Registry:
    """The registry in `path`; RegistryUnavailable, saying why, when there is none to show."""
    try:
        fd = open_regular(path, os.O_RDONLY, GRAPH_FILE)
    except FileNotFoundError:
        raise RegistryUnavailable("The batch wrote no dependency graph yet: quarrix-batch writes "
                                  f"{GRAPH_FILE} in its work directory at the end of a run") from None
    except Unusable as exc:
        raise RegistryUnavailable(f"{path} is {exc.problem}; not read") from None
    try:
        with os.fdopen(fd, "rb") as f:
            data = f.read(MAX_GRAPH_BYTES + 1)
    except OSError as exc:
        raise RegistryUnavailable(f"{path} cannot be read ({exc.strerror})") from None
    if len(data) > MAX_GRAPH_BYTES:
        raise RegistryUnavailable(f"{path} is larger than {MAX_GRAPH_BYTES >> 20} MiB; not read")
    try:
        doc = json.loads(data.decode("utf-8"))
    except UnicodeDecodeError as exc:
        raise RegistryUnavailable(f"{path} is not UTF-8 text (byte {exc.start})") from None
    except json.JSONDecodeError as exc:
        raise RegistryUnavailable(f"{path} is not valid JSON ({exc.msg}, line {exc.lineno} "
                                  f"column {exc.colno})") from None
    except RecursionError:
        raise RegistryUnavailable(f"{path} is nested too deeply to read") from None
    return parse(doc)


def units_phrase(count: int) -> str:
    return "unused" if count == 0 else f"{count} unit" + ("" if count == 1 else "s")


@dataclasses.dataclass
class Picture:
    dot: str
    drawn: int                # repositories in the picture
    loose: list               # repositories with no dependency either way, listed beside it
    cut: int = 0              # linked repositories left out past graph.MAX_NODES


def dot_source(registry: Registry, has_rows) -> Picture:
    """The DOT text of the repositories that take from or give to another; `has_rows(namespace)` says
    whether a node can link to rows of the list."""
    linked = {n for e in registry.edges for n in (e.source, e.target)}
    nodes = [r for r in registry.repositories if r.namespace in linked]
    cut, nodes = max(0, len(nodes) - graph.MAX_NODES), nodes[:graph.MAX_NODES]
    ids = {r.namespace: f"r{k}" for k, r in enumerate(nodes)}
    lines = ['digraph registry {',
             '  graph [rankdir=LR, bgcolor="transparent", fontname="sans-serif", nodesep=0.2, ranksep=0.8];',
             '  node [shape=box, fontname="sans-serif", fontsize=12, height=0.3, margin="0.1,0.04"];',
             '  edge [color="#7a8a99", fontname="sans-serif", fontsize=10, arrowsize=0.7];']
    for repo in nodes:
        facts = ["rows unknown" if repo.rows is None else f"{repo.rows} row" + ("" if repo.rows == 1 else "s")]
        if repo.mark != "ok" or repo.status not in ("scanned", "unchanged", ""):
            facts.append(repo.status)
        tooltip = f"{repo.namespace}: {', '.join(facts)}" + (f", {repo.url}" if repo.url else "")
        attrs = [f"label={graph.dot_label(repo.namespace, ', '.join(facts))}", _NODE_STYLE[repo.mark]]
        if has_rows(repo.namespace):
            attrs += [f"URL={graph.dot_quote(rows_url(repo.namespace), limit=None)}", 'target="_top"']
        else:
            tooltip += " (no rows of it are served)"
        attrs += [f"tooltip={graph.dot_quote(tooltip)}", f"id={graph.dot_quote(ids[repo.namespace])}"]
        lines.append(f"  {ids[repo.namespace]} [{', '.join(attrs)}];")
    for edge in registry.edges:
        if edge.source not in ids or edge.target not in ids:
            continue
        taken = f"takes {units_phrase(len(edge.units))} from" if edge.units else "uses nothing it declares of"
        tooltip = (f"{edge.source} {taken} {edge.target}"
                   + (f" (declared in {', '.join(edge.declared_by)})" if edge.declared_by else "")
                   + (": " + ", ".join(edge.units) if edge.units else ""))
        style = ', style=dashed, fontcolor="#888888"' if not edge.units else ""
        label = graph.dot_quote(units_phrase(len(edge.units)))
        lines.append(f"  {ids[edge.source]} -> {ids[edge.target]} [label={label}, tooltip={graph.dot_quote(tooltip)}"
                     f"{style}];")
    lines.append("}")
    loose = [r for r in registry.repositories if r.namespace not in linked]
    return Picture("\n".join(lines), len(nodes), loose, cut)


def rows_url(namespace: str) -> str:
    """The list of one repository's rows."""
    return "/?" + urlencode({"namespace": namespace})
