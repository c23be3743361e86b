"""What each row of a scan took from the repositories it was scanned with, from the scan's unit report."""

from __future__ import annotations


def row_edges(rows: list, units: list) -> list:
    """(row, row name, dependency namespace, file, unit or '' for a header) of each thing each row took.

    A row takes what its unit took, and an aggregated row (repository or
    subproject) what its tops and components took.
    """
    taken = {unit["name"]: unit["from_dependencies"] for unit in units}
    out = []
    for index, row in enumerate(rows):
        seen = set()
        for name in [row["name"], *row.get("top_modules", []), *row.get("components", [])]:
            for dep in taken.get(name, []):
                for unit in dep["units"] or [""]:
                    edge = (dep["namespace"], dep["file"], unit)
                    if edge not in seen:
                        seen.add(edge)
                        out.append((index, row["name"], *edge))
    return out
