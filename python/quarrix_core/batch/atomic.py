"""Files replaced whole, like quarrix-scan -o."""

from __future__ import annotations

import os


class atomic_file:
    """A file replaced whole: written beside its place, synced, then renamed; left as it was on failure."""

    def __init__(self, path: str):
        self.path = os.path.abspath(path)
        self.tmp = f"{self.path}.{os.getpid()}.tmp"

    def __enter__(self):
        self.file = open(self.tmp, "wb")
        return self.file

    def __exit__(self, kind, value, tb):
        try:
            if kind is None:
                self.file.flush()
                os.fsync(self.file.fileno())
            self.file.close()
            if kind is None:
                os.replace(self.tmp, self.path)
        finally:
            if os.path.exists(self.tmp):
                os.unlink(self.tmp)
        return False
