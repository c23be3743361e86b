"""The catalog rows under review, loaded once and held compactly.

A row is kept as its JSON text plus the few fields the list page shows and
filters on, held column by column: 100 000 rows as dicts would take about
half a gigabyte, this takes a fraction of it. The row page parses its row again.
"""

from __future__ import annotations

import json
import os
from pathlib import Path


class RowsFileError(Exception):
    """A rows file cannot be used; the message names the file and the place."""


def _parse_rows_file(path: Path):
    """Yield (where, row, its JSON text if the file has it alone) for each row of a JSON array or JSONL file."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as exc:
        raise RowsFileError(f"{path}: cannot read ({exc.strerror})") from None
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise RowsFileError(f"{path}: not UTF-8 text (byte {exc.start})") from None
    if text.lstrip().startswith("["):
        try:
            rows = json.loads(text)
        except (json.JSONDecodeError, RecursionError) as exc:
            raise RowsFileError(f"{path}: not a valid JSON array ({exc})") from None
        for number, row in enumerate(rows, 1):
            yield f"{path}: row {number}", row, None
        return
    # JSONL lines end at "\n" alone: str.splitlines would also cut at a U+2028 or \x1c inside a row.
    for lineno, line in enumerate(text.split("\n"), 1):
        if not line.strip():
            continue
        try:
            row = json.loads(line)
        except (json.JSONDecodeError, RecursionError) as exc:
            raise RowsFileError(f"{path}:{lineno}: not a JSON row ({exc})") from None
        yield f"{path}:{lineno}", row, line.strip()


def _text(value) -> str:
    return value if isinstance(value, str) else ""


class RowSet:
    """Rows in load order; a row's number is its position, starting at 0."""

    def __init__(self):
        self.raw: list[str] = []
        self.names: list[str] = []
        self.namespaces: list[str] = []
        self.roles: list[str] = []
        self.desc_sources: list[str] = []
        self.descriptions: list[str] = []
        self.licenses: list[str] = []
        self.license_classes: list[str] = []
        self.verified: list[str] = []        # "yes" / "no", as the filter offers them
        self.tags: list[tuple] = []
        self.search_text: list[str] = []     # lower-cased name, namespace, description and tags
        self.sources: list[str] = []         # the files that held each row, for the row page
        self._by_name: dict[tuple[str, str], int] = {}
        self.by_namespace: dict[str, list[int]] = {}

    @classmethod
    def load(cls, paths) -> "RowSet":
        rows = cls()
        for path in paths:
            for where, row, text in _parse_rows_file(Path(path)):
                rows.add(row, where, text)
        return rows

    def add(self, row, where: str = "", text: str | None = None) -> int:
        if not isinstance(row, dict):
            raise RowsFileError(f"{where}: a row must be a JSON object, not {type(row).__name__}")
        name, namespace = row.get("name"), row.get("namespace")
        if not isinstance(name, str) or not isinstance(namespace, str):
            raise RowsFileError(f'{where}: a row needs string "name" and "namespace" keys')
        index = len(self.raw)
        self.raw.append(text if text is not None else json.dumps(row, ensure_ascii=False, separators=(",", ":")))
        raw_tags = row.get("tags")
        tags = tuple(t for t in raw_tags if isinstance(t, str)) if isinstance(raw_tags, list) else ()
        description = _text(row.get("description"))
        self.names.append(name)
        self.namespaces.append(namespace)
        self.roles.append(_text(row.get("role")))
        self.desc_sources.append(_text(row.get("desc_source")))
        self.descriptions.append(description)
        self.licenses.append(_text(row.get("license")))
        self.license_classes.append(_text(row.get("license_class")))
        self.verified.append("yes" if row.get("verified") is True else "no")
        self.tags.append(tags)
        self.search_text.append("\n".join((name, namespace, description, *tags)).lower())
        self.sources.append(os.fspath(where))
        self._by_name.setdefault((namespace, name), index)
        self.by_namespace.setdefault(namespace, []).append(index)
        return index

    def __len__(self) -> int:
        return len(self.raw)

    def row(self, index: int) -> dict:
        return json.loads(self.raw[index])

    def key(self, index: int) -> str:
        """The row's identity in the verdict file."""
        return f"{self.namespaces[index]}/{self.names[index]}"

    def find(self, namespace: str, name: str) -> int | None:
        """The first row of that name in that namespace."""
        return self._by_name.get((namespace, name))
