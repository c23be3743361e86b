"""A batch's rows, read from its result store with the checkout and commit each repository was scanned at.

The store is the batch's record: its `-o` file is written from it, and it
alone knows the commits and checkouts.
"""

from __future__ import annotations

import dataclasses
import json
import os

from quarrix_core.batch.store import ResultStore, StoreError

from .rows import RowSet, RowsFileError


@dataclasses.dataclass(frozen=True)
class ScannedCheckout:
    path: str           # the directory the batch scanned; "" in a store older than that record
    commit: str         # "" when git named none
    dirty: bool         # its work tree differed from the commit when it was scanned


def load_batch(store_path: str) -> tuple[RowSet, list]:
    """(the rows, the ScannedCheckout of each row, in row order)."""
    if not os.path.isfile(store_path):
        raise RowsFileError(f"{store_path}: no result store there (quarrix-batch --work DIR writes DIR/results.sqlite)")
    rows, checkouts = RowSet(), []
    try:
        store = ResultStore(store_path)
    except StoreError as exc:
        raise RowsFileError(str(exc)) from None
    try:
        for repo in store.latest():
            scanned = ScannedCheckout(repo.checkout, repo.commit, repo.dirty)
            where = f"{repo.source} at {repo.commit[:12] or 'no commit'}"
            # Lines end at "\n" only: a row may hold U+2028 and the like as they are.
            for number, line in enumerate(repo.rows_jsonl.split("\n"), 1):
                if not line.strip():
                    continue
                try:
                    row = json.loads(line)
                except (json.JSONDecodeError, RecursionError) as exc:
                    raise RowsFileError(f"{store_path}: {repo.source}: row {number} is not JSON ({exc})") from None
                rows.add(row, where, line.strip())
                checkouts.append(scanned)
    except StoreError as exc:
        raise RowsFileError(str(exc)) from None
    finally:
        store.close()
    return rows, checkouts
