"""A unit's own source, read from the checkouts under --repo-root and nowhere else.

Rows come from repositories anyone can publish, so the path a row names is
followed only when its fully resolved location (every link followed) lies
inside the root; the descriptor actually opened is checked again, so a link
swapped in between the check and the read is caught too. The header comment
comment is what the scanner's own header tier reads; ports and parameters come
from real parsers (interface.py).
"""

from __future__ import annotations

import dataclasses
import os
import stat

from quarrix_core import ip_scanner

MAX_SOURCE_BYTES = 8 * 1024 * 1024
VHDL_SUFFIXES = (".vhd", ".vhdl")


class SourceUnavailable(Exception):
    """Why the source cannot be shown; the message is for the page."""


@dataclasses.dataclass
class UnitSource:
    path: str                   # as the row names it
    real: str                   # resolved, inside the root
    header: str | None          # the header comment as the header tier reads it
    text: str                   # the whole file (at most MAX_SOURCE_BYTES)


def _inside(path: str, root: str) -> bool:
    return path == root or path.startswith(root.rstrip(os.sep) + os.sep)


def unit_source(rel_path: str, real: str, text: str) -> UnitSource:
    suffix = os.path.splitext(rel_path)[1].lower()
    if suffix in VHDL_SUFFIXES:
        header = ip_scanner._extract_vhdl_header(text)
    else:
        header = ip_scanner._extract_verilog_header(text)
    return UnitSource(path=rel_path, real=real, header=header, text=text)


class SourceTree:
    """The checkouts under one root; a row's files live in ROOT/NAMESPACE or ROOT itself.

    With `per_namespace` false the root is one repository's checkout, and a
    row's files are looked up in it alone.
    """

    def __init__(self, root: str | os.PathLike | None, per_namespace: bool = True):
        self.root = os.path.realpath(root) if root is not None else None
        self.per_namespace = per_namespace

    def locate(self, namespace: str, rel_path: str) -> str:
        """The resolved path of `rel_path` of `namespace`'s checkout, confined to the root."""
        if self.root is None:
            raise SourceUnavailable("no --repo-root was given, so sources are not shown")
        if not rel_path or "\0" in rel_path or "\0" in namespace:
            raise SourceUnavailable("the row names no usable source path")
        if os.path.isabs(rel_path):
            raise SourceUnavailable("the source lies outside the scanned repository")
        bases = [self.root]
        if self.per_namespace and namespace not in ("", ".", ".."):
            bases.insert(0, os.path.join(self.root, namespace))
        for base in bases:
            real = os.path.realpath(os.path.join(base, rel_path))
            if not _inside(real, self.root):
                continue
            try:
                if stat.S_ISREG(os.stat(real).st_mode):
                    return real
            except OSError:
                continue
        raise SourceUnavailable(f"{rel_path} is not a file under --repo-root")

    def read_text(self, real: str) -> str:
        try:
            fd = os.open(real, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW | os.O_CLOEXEC)
        except OSError as exc:
            raise SourceUnavailable(f"cannot open the source ({exc.strerror})") from None
        try:
            st = os.fstat(fd)
            opened = os.readlink(f"/proc/self/fd/{fd}") if os.path.exists("/proc/self/fd") else real
            if not stat.S_ISREG(st.st_mode) or not _inside(opened, self.root):
                raise SourceUnavailable("the source changed while it was being opened")
            if st.st_size > MAX_SOURCE_BYTES:
                raise SourceUnavailable(f"the source is larger than {MAX_SOURCE_BYTES // 1048576} MiB")
            with os.fdopen(os.dup(fd), "rb") as f:
                data = f.read(MAX_SOURCE_BYTES + 1)
        finally:
            os.close(fd)
        return data[:MAX_SOURCE_BYTES].decode("utf-8", errors="replace")

    def unit(self, namespace: str, rel_path: str) -> UnitSource:
        real = self.locate(namespace, rel_path)
        return unit_source(rel_path, real, self.read_text(real))

    def checkout(self, namespace: str) -> str | None:
        """The namespace's own checkout (ROOT/NAMESPACE), when it is a directory inside the root."""
        if self.root is not None and not self.per_namespace:
            return self.root
        if self.root is None or namespace in ("", ".", "..") or "\0" in namespace:
            return None
        real = os.path.realpath(os.path.join(self.root, namespace))
        return real if real != self.root and _inside(real, self.root) and os.path.isdir(real) else None

    def compile_list(self, namespace: str, files: list) -> list:
        """The compile list's files that resolve inside the root, in order; the unit's own file must."""
        found = []
        for rel in files[:-1]:
            try:
                found.append(self.locate(namespace, rel))
            except SourceUnavailable:
                continue          # the parser then names what is missing
        return [*found, self.locate(namespace, files[-1])]


def own_file(row: dict) -> str | None:
    """The unit's own source: the last file of its compile list."""
    compat = row.get("quarrix_compat")
    files = compat.get("files") if isinstance(compat, dict) else None
    if isinstance(files, list) and files and isinstance(files[-1], str):
        return files[-1]
    return None
