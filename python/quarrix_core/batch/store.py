"""The result store: the rows of each manifest entry's last successful scan, in SQLite.

One row per entry (its source, ref and row-changing options), holding the key
of what was scanned (commit, tags, package version, options) and the rows as
quarrix-scan's JSONL lines. An entry whose key is unchanged is not scanned
again. Each result is written in its own transaction, so a batch killed at
any moment leaves every finished result in place and the file consistent.
"""

from __future__ import annotations

import sqlite3
import time
from dataclasses import dataclass
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
    scanned_at REAL NOT NULL
)
"""


class StoreError(Exception):
    """The store cannot be opened or written."""


@dataclass
class StoredResult:
    key: str
    commit: str
    rows_jsonl: str
    row_count: int


class ResultStore:
    def __init__(self, path: str):
        self.path = path
        try:
            self._db = sqlite3.connect(path, timeout=30, isolation_level=None)
            self._db.execute("PRAGMA journal_mode=WAL")
            self._db.execute("PRAGMA synchronous=FULL")
            self._db.execute(_SCHEMA)
        except sqlite3.Error as e:
            raise StoreError(f"result store {path}: {e}") from None

    def get(self, entry: str) -> Optional[StoredResult]:
        try:
            row = self._db.execute(
                "SELECT key, commit_sha, rows_jsonl, row_count FROM results WHERE entry = ?", (entry,)).fetchone()
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None
        return StoredResult(*row) if row else None

    def put(self, entry: str, key: str, source: str, ref: str, commit: str, version: str,
            rows_jsonl: str, row_count: int, seconds: float) -> None:
        try:
            with self._db:  # one transaction: the old result stays until the new one is whole
                self._db.execute("BEGIN IMMEDIATE")
                self._db.execute(
                    "INSERT OR REPLACE INTO results VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                    (entry, key, source, ref, commit, version, rows_jsonl, row_count, seconds, time.time()))
        except sqlite3.Error as e:
            raise StoreError(f"result store {self.path}: {e}") from None

    def close(self) -> None:
        self._db.close()
