"""A repository's picture: its tops and the components and primitives they use, drawn by Graphviz.

Node names in the DOT text are our own (n0, n1, ...); repository strings go
only into quoted labels and tooltips, with quotes and backslashes escaped so
that dot shows them literally (no \\N, \\G or \\l expansion). dot escapes text
for XML itself; the SVG is parsed again before it is embedded, and refused if
it is not well-formed or holds anything that could run.
"""

from __future__ import annotations

import dataclasses
import hashlib
import os
import posixpath
import re
import shutil
import tempfile
import subprocess
import xml.etree.ElementTree as ET

from .rows import RowSet

MAX_NODES = 600
DOT_TIMEOUT_S = 30
_CONTROL = re.compile(r"[\x00-\x1f\x7f]")
_STYLE = {
    "top": 'shape=box, style="rounded,filled", fillcolor="#dbe9f7", penwidth=1.5',
    "component": 'shape=ellipse, style=filled, fillcolor="#eef5e4"',
    "primitive": 'shape=ellipse, style=filled, fillcolor="#f2f2f2", fontsize=11',
}
_NO_ROW_STYLE = 'shape=ellipse, style=dashed, fontcolor="#666666"'


class GraphUnavailable(Exception):
    """Why no picture can be drawn; the message is for the page."""


def dot_quote(text: str, limit: int | None = 300) -> str:
    """`text` as a quoted DOT string that Graphviz shows exactly as written."""
    text = _CONTROL.sub(" ", text[:limit])
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def dot_label(*lines: str) -> str:
    """A quoted DOT label of several lines, each shown exactly as written."""
    return '"' + "\\n".join(dot_quote(line)[1:-1] for line in lines) + '"'


def _own_file(row: dict) -> str | None:
    compat = row.get("quarrix_compat")
    files = compat.get("files") if isinstance(compat, dict) else None
    return files[-1] if isinstance(files, list) and files and isinstance(files[-1], str) else None


@dataclasses.dataclass
class Picture:
    dot: str                 # DOT text of the units that use or are used by another
    drawn: int               # nodes in it
    units: int               # unit rows of the repository
    loose: dict              # directory -> [(name, row)] of units linked to no other, shown packed beside it
    cut: int = 0             # linked units left out past MAX_NODES


def hierarchy(rows: RowSet, namespace: str):
    """(unit rows, {name: row or None}, direct edges) of one namespace.

    A unit's compile list (else a top's "components") names what it uses,
    transitively; an edge U -> V is kept only when no other unit U uses also
    uses V, which leaves the instantiation tree instead of thousands of edges.
    """
    members = [i for i in rows.by_namespace.get(namespace, []) if rows.roles[i] in _STYLE]
    parsed = {i: rows.row(i) for i in members}
    by_file = {}
    for i in members:
        own = _own_file(parsed[i])
        if own is not None:
            by_file.setdefault(own, rows.names[i])
    uses: dict[str, set] = {}
    known: dict[str, int | None] = {}
    for i in members:
        name, row = rows.names[i], parsed[i]
        known.setdefault(name, i)
        used = uses.setdefault(name, set())
        compat = row.get("quarrix_compat")
        files = compat.get("files") if isinstance(compat, dict) else None
        for f in files[:-1] if isinstance(files, list) else ():
            other = by_file.get(f) if isinstance(f, str) else None
            if other is not None and other != name:
                used.add(other)
        # A top's "components" may name every component of the repository: only a fallback.
        components = row.get("components") if rows.roles[i] == "top" and not used else None
        for comp in components if isinstance(components, list) else ():
            if isinstance(comp, str) and comp != name:
                used.add(comp)
    for used in list(uses.values()):
        for comp in used:
            known.setdefault(comp, rows.find(namespace, comp))
    edges = []
    for name, used in uses.items():
        for comp in sorted(used):
            if not any(comp in uses.get(via, ()) for via in used if via != comp):
                edges.append((name, comp))
    return members, known, edges


def dot_source(rows: RowSet, namespace: str, row_url) -> Picture:
    members, known, edges = hierarchy(rows, namespace)
    linked = {n for e in edges for n in e}
    nodes = [n for n in known if n in linked]
    cut, nodes = max(0, len(nodes) - MAX_NODES), nodes[:MAX_NODES]
    shown = set(nodes)
    edges = [(a, b) for a, b in edges if a in shown and b in shown]
    loose: dict[str, list] = {}
    for i in members:
        name = rows.names[i]
        if name not in linked and known.get(name) == i:
            own = _own_file(rows.row(i)) or ""
            loose.setdefault(posixpath.dirname(own) or ".", []).append((name, i))
    ids = {name: f"n{k}" for k, name in enumerate(nodes)}
    lines = ['digraph units {',
             '  graph [rankdir=LR, bgcolor="transparent", fontname="sans-serif", fontsize=11, nodesep=0.15, '
             'ranksep=0.6, newrank=true];',
             '  node [fontname="sans-serif", fontsize=12, height=0.3, margin="0.08,0.03"];',
             '  edge [color="#7a8a99", arrowsize=0.6];']
    clusters: dict[str, list] = {}
    for name in nodes:
        index = known[name]
        own = _own_file(rows.row(index)) if index is not None else None
        clusters.setdefault(posixpath.dirname(own) if own else "", []).append(name)
    for k, (directory, names) in enumerate(sorted(clusters.items())):
        if directory:
            lines.append(f'  subgraph cluster_{k} {{ label={dot_quote(directory + "/")}; color="#d5dde6"; '
                         'fontcolor="#667788"; style=rounded;')
        for name in names:
            index = known[name]
            if index is None:
                lines.append(f'  {ids[name]} [label={dot_quote(name)}, {_NO_ROW_STYLE}, '
                             f'tooltip={dot_quote(name + ": no row of this name")}];')
                continue
            tooltip = f"{name} ({rows.roles[index]}): {rows.descriptions[index]}"
            lines.append(f'  {ids[name]} [label={dot_quote(name)}, {_STYLE[rows.roles[index]]}, '
                         f'tooltip={dot_quote(tooltip)}, URL={dot_quote(row_url(index))}, target="_top", '
                         f'id={dot_quote("row-" + str(index))}];')
        if directory:
            lines.append("  }")
    for top, comp in edges:
        lines.append(f"  {ids[top]} -> {ids[comp]};")
    lines.append("}")
    return Picture("\n".join(lines), len(nodes), len(members), dict(sorted(loose.items())), cut)


def _check_svg(svg: str) -> str:
    try:
        root = ET.fromstring(svg)
    except ET.ParseError as exc:
        raise GraphUnavailable(f"dot gave SVG that does not parse ({exc})") from None
    for element in root.iter():
        tag = element.tag.rsplit("}", 1)[-1].lower()
        if tag in ("script", "foreignobject", "iframe", "object", "embed"):
            raise GraphUnavailable(f"dot gave SVG holding a <{tag}> element; not shown")
        for attr, value in element.attrib.items():
            if attr.rsplit("}", 1)[-1].lower().startswith("on") or value.strip().lower().startswith("javascript:"):
                raise GraphUnavailable("dot gave SVG holding an event handler or script link; not shown")
    return svg[svg.index("<svg"):]


def render_svg(dot_text: str) -> str:
    """The SVG element dot draws for `dot_text`, without the XML prologue."""
    dot = shutil.which("dot")
    if dot is None:
        raise GraphUnavailable("Graphviz is not installed (no dot on PATH); "
                               "install the graphviz package to see the picture")
    try:
        done = subprocess.run([dot, "-Tsvg"], input=dot_text.encode("utf-8"), capture_output=True,
                              timeout=DOT_TIMEOUT_S, check=False)
    except subprocess.TimeoutExpired:
        raise GraphUnavailable(f"dot took longer than {DOT_TIMEOUT_S} s; the repository is too large to draw") from None
    if done.returncode != 0:
        first = done.stderr.decode("utf-8", "replace").strip().splitlines()[:1]
        raise GraphUnavailable("dot failed: " + (first[0] if first else f"exit status {done.returncode}"))
    return _check_svg(done.stdout.decode("utf-8", "replace"))


def render_cached(dot_text: str, cache_dir) -> str:
    """render_svg, kept on disk by the DOT text's digest: a restarted server draws nothing again."""
    where = os.path.join(os.fspath(cache_dir), hashlib.sha256(dot_text.encode("utf-8")).hexdigest() + ".svg")
    try:
        with open(where, encoding="utf-8") as f:
            return _check_svg(f.read())
    except (OSError, GraphUnavailable):
        pass
    svg = render_svg(dot_text)
    try:
        os.makedirs(os.fspath(cache_dir), exist_ok=True)
        fd, tmp = tempfile.mkstemp(dir=cache_dir, suffix=".tmp")
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(svg)
        os.replace(tmp, where)
    except OSError:
        pass
    return svg
