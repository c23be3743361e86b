"""The registry's dependency graph: a JSON document, and a picture of it through Graphviz.

    {"repositories": [{"namespace", "url", "commit", "status", "rows", ...}],
     "edges": [{"from", "to", "declared_by": ["Bender.yml", "manifest"], "units": [...]}]}

An edge's "units" are the dependency's units that rows of "from" took from
"to", sorted; [] when it is declared but nothing was taken.
"""

from __future__ import annotations

import json
import shutil
import subprocess
from typing import Optional

from .atomic import atomic_file

_DOT_TIMEOUT = 60.0


def graph_document(outcomes: list, links, taken: dict) -> dict:
    """`taken`: index -> {dependency namespace: units its rows took}."""
    repositories, edges, listed = [], [], set()
    for outcome in outcomes:
        spec = outcome.spec
        if not spec.namespace or spec.namespace in listed:
            continue        # a duplicate entry names the repository of an earlier one
        listed.add(spec.namespace)
        repositories.append({"namespace": spec.namespace, "url": spec.source, "commit": outcome.commit,
                             "status": outcome.status, "rows": outcome.rows,
                             "unmatched_dependencies": links.unmatched.get(spec.index, [])})
        used = taken.get(spec.index, {})
        for dep, declared_by in sorted(links.deps.get(spec.index, {}).items()):
            to = outcomes[dep].spec.namespace
            edges.append({"from": spec.namespace, "to": to, "declared_by": declared_by,
                          "units": sorted(used.get(to, ()))})
    return {"repositories": repositories, "edges": edges}


def write_graph(document: dict, path: str, svg: Optional[str] = None) -> Optional[str]:
    """Writes the JSON to `path` and, given `svg`, its picture there; a line to show when no picture was made."""
    with atomic_file(path) as f:
        f.write((json.dumps(document, indent=1, ensure_ascii=True) + "\n").encode("ascii"))
    if svg is None:
        return None
    dot = shutil.which("dot")
    if dot is None:
        return f"Graphviz 'dot' is not on PATH: wrote {path} without {svg}"
    try:
        picture = subprocess.run([dot, "-Tsvg"], input=_dot_text(document).encode(), capture_output=True,
                                 timeout=_DOT_TIMEOUT, check=True).stdout
    except (OSError, subprocess.SubprocessError) as e:
        return f"Graphviz 'dot' failed ({type(e).__name__}): wrote {path} without {svg}"
    with atomic_file(svg) as f:
        f.write(picture)
    return None


def _dot_text(document: dict) -> str:
    lines = ["digraph registry {", '  rankdir=LR; node [shape=box, fontname="Helvetica"];']
    for repo in document["repositories"]:
        failed = repo["status"] not in ("scanned", "unchanged")
        label = f"{repo['namespace']}\\n{repo['rows']} rows" + (f"\\n{repo['status']}" if failed else "")
        lines.append(f"  {_quoted(repo['namespace'])} [label={_quoted(label, escaped=True)}"
                     + (", color=red" if failed else "") + "];")
    for edge in document["edges"]:
        units = len(edge["units"])
        lines.append(f"  {_quoted(edge['from'])} -> {_quoted(edge['to'])} "
                     f"[label={_quoted(f'{units} units' if units else 'declared')}"
                     + ("" if units else ", style=dashed") + "];")
    lines.append("}")
    return "\n".join(lines) + "\n"


def _quoted(text: str, escaped: bool = False) -> str:
    """A DOT string; `escaped`: its "\\n" line breaks are kept."""
    body = text.replace("\\", "\\\\").replace('"', '\\"')
    if escaped:
        body = body.replace("\\\\n", "\\n")
    return '"' + "".join(c if c.isprintable() else " " for c in body) + '"'
