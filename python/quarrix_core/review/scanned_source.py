"""A batch row's source as it was at the commit its rows were scanned at.

The text shown is the blob of that commit, read with git, whatever the
checkout holds now: the next batch may have moved it, or someone edited it.
The parsers read files, so ports are parsed only while the checkout's work
tree is that commit, untouched. git runs as the batch runs it (no hooks, no
filters, nothing of the repository's configuration that starts a command).
"""

from __future__ import annotations

import os

from quarrix_core.batch.gitrepo import GitError, git, is_dirty

from .batch_rows import ScannedCheckout
from .sources import MAX_SOURCE_BYTES, SourceTree, SourceUnavailable, UnitSource, unit_source

_GIT_TIMEOUT = 30.0


class ScannedSource:
    def __init__(self, scanned: ScannedCheckout):
        self.scanned = scanned

    def _checkout(self) -> str:
        scanned = self.scanned
        if not scanned.path:
            raise SourceUnavailable("the result store does not record where these rows were scanned "
                                    "(a store written before it did); scan them again with quarrix-batch --force")
        if scanned.dirty:
            raise SourceUnavailable("the checkout had uncommitted changes when it was scanned, so no commit holds "
                                    "the text these rows were made from")
        if not scanned.commit:
            raise SourceUnavailable("git named no commit for this checkout when it was scanned")
        if not os.path.isdir(scanned.path):
            raise SourceUnavailable(f"the batch's checkout {scanned.path} is gone")
        return scanned.path

    def unit(self, rel_path: str) -> UnitSource:
        """The unit's file at the scanned commit."""
        checkout = self._checkout()
        if not rel_path or "\0" in rel_path or "\n" in rel_path:
            raise SourceUnavailable("the row names no usable source path")
        if os.path.isabs(rel_path) or ".." in rel_path.split("/") or rel_path.startswith("./"):
            raise SourceUnavailable("the source lies outside the scanned repository")
        commit = self.scanned.commit
        spec = f"{commit}:{rel_path}"
        try:
            kind = git(["-C", checkout, "cat-file", "-t", spec], _GIT_TIMEOUT).strip()
            size = int(git(["-C", checkout, "cat-file", "-s", spec], _GIT_TIMEOUT).strip()) if kind == "blob" else 0
        except (GitError, ValueError):
            raise SourceUnavailable(f"{rel_path} cannot be read at the scanned commit {commit[:12]}: the checkout "
                                    "no longer holds that commit, or the commit has no such file") from None
        if kind != "blob":
            raise SourceUnavailable(f"{rel_path} is not a file at the scanned commit {commit[:12]}")
        if size > MAX_SOURCE_BYTES:
            raise SourceUnavailable(f"the source is larger than {MAX_SOURCE_BYTES // 1048576} MiB")
        try:
            text = git(["-C", checkout, "cat-file", "blob", spec], _GIT_TIMEOUT)
        except GitError as exc:
            raise SourceUnavailable(f"git could not read {rel_path} at {commit[:12]} ({exc})") from None
        return unit_source(rel_path, spec, text)

    def parse_tree(self) -> tuple[SourceTree | None, str]:
        """(the checkout as a tree for the parsers, or None; why not, when None)."""
        checkout = self._checkout()
        try:
            head = git(["-C", checkout, "rev-parse", "HEAD"], _GIT_TIMEOUT).strip()
        except GitError:
            head = ""
        if head != self.scanned.commit:
            moved = f"is now at {head[:12]}" if head else "has no readable HEAD"
            return None, (f"the checkout {moved}, not at the scanned commit {self.scanned.commit[:12]}, "
                          "so ports and parameters are not parsed (the source shown is the scanned commit's)")
        if is_dirty(checkout, _GIT_TIMEOUT):
            return None, ("the checkout's files differ from the scanned commit now, so ports and parameters are "
                          "not parsed (the source shown is the scanned commit's)")
        return SourceTree(checkout, per_namespace=False), ""
