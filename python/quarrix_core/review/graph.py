"""A repository's picture: its tops and the components and primitives they use, drawn by Graphviz.

Node names in the DOT text are our own (n0, n1, ...); repository strings go
only into quoted labels and tooltips, with quotes and backslashes escaped so
that dot shows them literally (no \\N, \\G or \\l expansion). dot escapes text
for XML itself; the SVG is parsed again before it is embedded, and refused if
it is not well-formed or holds anything that could run.
"""

from __future__ import annotations

import re
import shutil
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


def dot_quote(text: str, limit: int = 300) -> str:
    """`text` as a quoted DOT string that Graphviz shows exactly as written."""
    text = _CONTROL.sub(" ", text[:limit])
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def dot_source(rows: RowSet, namespace: str, row_url) -> tuple[str, int, int]:
    """(DOT text, nodes drawn, units in the repository) for one namespace."""
    members = [i for i in rows.by_namespace.get(namespace, []) if rows.roles[i] in _STYLE]
    nodes: dict[str, int | None] = {}     # unit name -> its row, None when no row has it
    edges: list[tuple[str, str]] = []

    def add(name: str, index: int | None) -> bool:
        if name not in nodes:
            if len(nodes) >= MAX_NODES:
                return False
            nodes[name] = index
        return True

    for i in members:
        if rows.roles[i] != "top" or not add(rows.names[i], i):
            continue
        components = rows.row(i).get("components")
        for comp in components if isinstance(components, list) else ():
            if isinstance(comp, str) and add(comp, rows.find(namespace, comp)):
                edges.append((rows.names[i], comp))
    for i in members:                       # components and primitives no top lists
        add(rows.names[i], i)

    ids = {name: f"n{k}" for k, name in enumerate(nodes)}
    lines = ['digraph units {', '  graph [rankdir=LR, bgcolor="transparent", fontname="sans-serif"];',
             '  node [fontname="sans-serif", fontsize=12];', '  edge [color="#7a8a99"];']
    for name, index in nodes.items():
        if index is None:
            lines.append(f'  {ids[name]} [label={dot_quote(name)}, {_NO_ROW_STYLE}, '
                         f'tooltip={dot_quote(name + ": no row of this name")}];')
            continue
        tooltip = f"{name} ({rows.roles[index]}): {rows.descriptions[index]}"
        lines.append(f'  {ids[name]} [label={dot_quote(name)}, {_STYLE[rows.roles[index]]}, '
                     f'tooltip={dot_quote(tooltip)}, URL={dot_quote(row_url(index))}, target="_top", '
                     f'id={dot_quote("row-" + str(index))}];')
    for top, comp in edges:
        lines.append(f"  {ids[top]} -> {ids[comp]};")
    lines.append("}")
    return "\n".join(lines), len(nodes), len(members)


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
