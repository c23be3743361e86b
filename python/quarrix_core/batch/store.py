"""The result store: the rows of each manifest entry's last successful scan, in SQLite.

One row per entry (its source, ref and row-changing options), holding the key
of what was scanned (commit, tags, package version, options, and the keys of
the dependencies it was scanned with), the checkout it was scanned in, what
that checkout declares it depends on, and the rows as quarrix-scan's JSONL
lines; beside it, what each row took from other repositories. An entry whose
key is unchanged is not scanned again. Each result is written in its own
transaction, so a batch killed at any moment leaves every finished result in
place and the file consistent. The review page reads the same store: the
rows, and where their sources are at the scanned commit.
"""

from __future__ import annotations

import json
import sqlite3
import time
from dataclasses import dataclass, field
from typing import Optional

_SCHEMA = """
CREATE TABLE IF NOT EXISTS results (
    entry TEXT PRIMARY KEY,      -- digest of source, ref and row-changing options
    key TEXT NOT NULL,           -- digest of entry, commit, tags and package version
    source TEXT NOT NULL,        -- URL without user info, or path
    ref TEXT NOT NULL,
    commit_sha TEXT NOT NULL,
    version TEXT NOT NULL,
    rows_jsonl TEXT NOT NULL,
    row_count INTEGER NOT NULL,
    seconds REAL NOT NULL,
    scanned_at REAL NOT NULL,
    checkout TEXT NOT NULL DEFAULT '',   -- the directory scanned ('' in stores older than the column)
    dirty INTEGER NOT NULL DEFAULT 0,    -- 1: its work tree differed from commit_sha when scanned
    own_key TEXT NOT NULL DEFAULT '',    -- the key without the dependencies' ('': not known)
    declared TEXT NOT NULL DEFAULT '[]'  -- JSON: the dependencies its checkout declares
);
CREATE TABLE IF NOT EXISTS row_edges (   -- what each row's unit took from other repositories
    entry TEXT NOT NULL,
    row INTEGER NOT NULL,        -- the row's place among the entry's rows, from 0
    name TEXT NOT NULL,          -- the row's name
    dependency TEXT NOT NULL,    -- the namespace of the repository it took from
    file TEXT NOT NULL,          -- relative to that repository
    unit TEXT NOT NULL           -- a unit declared in that file; '' for a header
);
CREATE INDEX IF NOT EXISTS row_edges_entry ON row_edges (entry);
"""
# Columns added since the first stores were written, with what an old row holds.
_ADDED = {"checkout": "TEXT NOT NULL DEFAULT ''", "dirty": "INTEGER NOT NULL DEFAULT 0",
          "own_key": "TEXT NOT NULL DEFAULT ''", "declared": "TEXT NOT NULL DEFAULT '[]'"}
_COLUMNS = ("entry", "key", "source", "ref", "commit_sha", "version", "rows_jsonl", "row_count", "seconds",
            "scanned_at", "checkout", "dirty", "own_key", "declared")


class StoreError(Exception):
    """The store cannot be opened or written."""


@dataclass
class StoredResult:
    key: str
    commit: str
    rows_jsonl: str
    row_count: int
    own_key: str = ""
    declared: list = field(default_factory=list)    # [{"url", "name", "file"}]


@dataclass
class NewResult:
    """A scan's result as it is stored, with what its rows took from other repositories."""

    key: str
    source: str
    ref: str
    commit: str
    version: str
    rows_jsonl: str
    row_count: int
    seconds: float
    checkout: str = ""
    dirty: bool = False
    own_key: str = ""
    declared: tuple = ()
    edges: tuple = ()       # (row, row name, dependency namespace, file, unit or '') of each thing a row took


@dataclass
class ScannedRepository:
    """What the review page needs of one repository's result."""

    source: str
    ref: str
    commit: str
    checkout: str
    dirty: bool
    rows_jsonl: str


class ResultStore:
    def __init__(self, path: str):
        self.path = path
        try:
            self._db = sqlite3.connect(path, timeout=30, isolation_level=None)
            self._db.execute("PRAGMA journal_mode=WAL")
            self._db.execute("PRAGMA synchronous=FULL")
            self._db.executescript(_SCHEMA)
            present = {row[1] for row in self._db.execute("PRAGMA table_info(results)")}
            for name, declaration in _ADDED.items():
                if name not in present:
                    self._db.execute(f"ALTER TABLE results ADD COLUMN {name} {declaration}")
        except sqlite3.Error as e:
            raise StoreError(f"result store {path}: {e}") from None

    def get(self, entry: str) -> Optional[StoredResult]:
        try:
            row = self._db.execute("SELECT key, commit_sha, rows_jsonl, row_count, own_key, declared FROM results "
                                   "WHERE entry = ?", (entry,)).fetchone()
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None
        return StoredResult(*row[:5], json.loads(row[5])) if row else None

    def taken(self, entry: str) -> dict:
        """{dependency namespace: the units its rows took from it} of the entry's result."""
        out: dict = {}
        try:
            for dependency, unit in self._db.execute(
                    "SELECT dependency, unit FROM row_edges WHERE entry = ? AND unit != ''", (entry,)):
                out.setdefault(dependency, set()).add(unit)
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None
        return out

    def put(self, entry: str, new: NewResult) -> None:
        """Replaces the entry's result with `new`."""
        try:
            with self._db:  # one transaction: the old result stays until the new one is whole
                self._db.execute("BEGIN IMMEDIATE")
                self._db.execute(
                    f"INSERT OR REPLACE INTO results ({', '.join(_COLUMNS)}) VALUES ({', '.join('?' * len(_COLUMNS))})",
                    (entry, new.key, new.source, new.ref, new.commit, new.version, new.rows_jsonl, new.row_count,
                     new.seconds, time.time(), new.checkout, int(new.dirty), new.own_key,
                     json.dumps(list(new.declared))))
                self._db.execute("DELETE FROM row_edges WHERE entry = ?", (entry,))
                self._db.executemany("INSERT INTO row_edges VALUES (?, ?, ?, ?, ?, ?)",
                                     [(entry, *edge) for edge in new.edges])
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None

    def latest(self):
        """The newest result of each repository (source and ref), in source order.

        Entries differ by their options too; a manifest names a repository and
        ref once, so the newest result is the one its last change of options gave.
        """
        try:
            cursor = self._db.execute(
                "SELECT source, ref, commit_sha, checkout, dirty, rows_jsonl FROM ("
                " SELECT *, ROW_NUMBER() OVER (PARTITION BY source, ref ORDER BY scanned_at DESC) AS newest"
                " FROM results) WHERE newest = 1 ORDER BY source, ref")
            for source, ref, commit, checkout, dirty, rows_jsonl in cursor:
                yield ScannedRepository(source, ref, commit, checkout, bool(dirty), rows_jsonl)
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None

    def close(self) -> None:
        self._db.close()
