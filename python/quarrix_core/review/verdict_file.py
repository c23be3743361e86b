"""The curators' verdict file, descriptions_verdicts.json, read and updated safely.

The page writes only the wrapped form ({"version": 1, "entries": {...}}, keys
"namespace/name"). Every update re-reads the file under a lock file, changes one
record and replaces the file atomically, so entries the page did not touch,
fields it does not know and updates made meanwhile by another tab or server
all survive. A file in any other shape is never overwritten silently.

Another program may hold the lock, or leave a directory, FIFO or device where
the file or its lock belongs: a lock is waited for a bounded time, and
anything but a regular file is refused without being opened for reading (a
FIFO would block the reader forever).
"""

from __future__ import annotations

import dataclasses
import errno
import fcntl
import json
import os
import stat
import tempfile
import time
from pathlib import Path

FILE_NAME = "descriptions_verdicts.json"
BACKUP_SUFFIX = ".bak"
LOCK_SUFFIX = ".lock"
VERDICTS = ("good", "improvable", "not-good")
SCHEMA_VERSION = 1
HISTORY_FIELD = "review_history"   # earlier verdicts of a record, oldest first
MAX_HISTORY = 100
_MERGE_ATTEMPTS = 5

# Form of the file on disk.
MISSING = "missing"      # no file yet: the first write creates it
WRAPPED = "wrapped"      # {"version": 1, "entries": {...}}: writable
FLAT = "flat"            # the top-level object is the verdict map: offer to convert
INVALID = "invalid"      # not JSON, not an object, or an "entries" that is not an object: refuse


class VerdictFileError(Exception):
    """The file cannot be written as asked; the message says why, for the page."""


class VerdictFileBusy(VerdictFileError):
    """Another writer held the lock past the time-out: trying again later may succeed."""


_KINDS = {stat.S_IFDIR: "a directory", stat.S_IFIFO: "a FIFO", stat.S_IFCHR: "a character device",
          stat.S_IFBLK: "a block device", stat.S_IFSOCK: "a socket", stat.S_IFLNK: "a symbolic link"}


def _not_regular(mode: int) -> str:
    """Why a file of `mode` is refused ("" for a regular file)."""
    if stat.S_ISREG(mode):
        return ""
    return f"{_KINDS.get(stat.S_IFMT(mode), 'not a regular file')}, not a regular file"


class Unusable(VerdictFileError):
    """Something other than a readable regular file stands where the file or its lock belongs."""

    def __init__(self, what: str, path: Path, problem: str):
        super().__init__(f"{what} {path} is {problem}; nothing was written. Move it away, then try again.")
        self.problem = problem


def open_regular(path: Path, flags: int, what: str, follow: bool = True) -> int:
    """A descriptor of `path` when it is a regular file, else Unusable; FileNotFoundError without O_CREAT.

    Checked before opening (a device may act on open) and again on the
    descriptor (the name may change between the two); O_NONBLOCK keeps a FIFO
    that slips in between from blocking. Without `follow` a symbolic link is
    refused too (and O_CREAT never creates the file a dangling one names).
    """
    if not follow:
        flags |= os.O_NOFOLLOW
    try:
        kind = _not_regular((os.stat if follow else os.lstat)(path).st_mode)
    except FileNotFoundError:
        kind = ""
    except OSError as exc:
        raise Unusable(what, path, f"unreadable ({exc.strerror})") from None
    if kind:
        raise Unusable(what, path, kind)
    try:
        fd = os.open(path, flags | os.O_NONBLOCK | os.O_CLOEXEC, 0o644)
    except FileNotFoundError:
        raise
    except OSError as exc:
        raise Unusable(what, path, f"unreadable ({exc.strerror})") from None
    kind = _not_regular(os.fstat(fd).st_mode)
    if kind:
        os.close(fd)
        raise Unusable(what, path, kind)
    return fd


@dataclasses.dataclass(frozen=True)
class VerdictState:
    form: str
    entries: dict          # the verdict map (empty unless WRAPPED or FLAT)
    problem: str = ""      # why the file is INVALID, for the page

    @property
    def writable(self) -> bool:
        return self.form in (MISSING, WRAPPED)


def _classify(raw: bytes | None) -> tuple[str, object, str]:
    """(form, parsed document, problem) of the file's bytes (None: no file)."""
    if raw is None:
        return MISSING, None, ""
    try:
        doc = json.loads(raw.decode("utf-8"))
    except UnicodeDecodeError as exc:
        return INVALID, None, f"not UTF-8 text ({exc.reason} at byte {exc.start})"
    except json.JSONDecodeError as exc:
        return INVALID, None, f"not valid JSON ({exc.msg}, line {exc.lineno} column {exc.colno})"
    except RecursionError:
        return INVALID, None, "nested too deeply to read"
    if not isinstance(doc, dict):
        return INVALID, None, f"the top level is a JSON {type(doc).__name__}, not an object"
    if "entries" in doc:
        if isinstance(doc["entries"], dict):
            return WRAPPED, doc, ""
        return INVALID, None, '"entries" is not an object'
    return FLAT, doc, ""


class VerdictFile:
    """descriptions_verdicts.json in one index directory."""

    def __init__(self, index_dir: str | os.PathLike, lock_timeout: float = 10.0):
        self.index_dir = Path(index_dir)
        self.path = self.index_dir / FILE_NAME
        self.backup_path = self.index_dir / (FILE_NAME + BACKUP_SUFFIX)
        self.lock_path = self.index_dir / (FILE_NAME + LOCK_SUFFIX)
        self.lock_timeout = lock_timeout
        self._cache = (None, None)   # (stat key, state), replaced as one value

    # -- reading -----------------------------------------------------------------

    def _read_bytes(self) -> bytes | None:
        try:
            fd = open_regular(self.path, os.O_RDONLY, "the verdict file")
        except FileNotFoundError:
            return None
        with os.fdopen(fd, "rb") as f:
            return f.read()

    def _stat_key(self):
        try:
            st = os.stat(self.path)
        except FileNotFoundError:
            return None
        except OSError as exc:
            return ("unreadable", exc.errno)
        return (st.st_dev, st.st_ino, st.st_mode, st.st_size, st.st_mtime_ns)

    def state(self) -> VerdictState:
        """The file as it is now; parsed again only when it changed on disk."""
        key = self._stat_key()
        cached_key, cached_state = self._cache
        if cached_state is not None and key == cached_key:
            return cached_state
        try:
            raw = self._read_bytes()
        except Unusable as exc:
            state = VerdictState(INVALID, {}, exc.problem)
        except OSError as exc:
            state = VerdictState(INVALID, {}, f"unreadable ({exc.strerror})")
        else:
            form, doc, problem = _classify(raw)
            if form == WRAPPED:
                entries = doc["entries"]
            elif form == FLAT:
                entries = doc
            else:
                entries = {}
            state = VerdictState(form, entries, problem)
        self._cache = (key, state)
        return state

    # -- writing -----------------------------------------------------------------

    def set_verdict(self, key: str, verdict: str, locked_text: str | None = None,
                    provenance: dict | None = None) -> dict:
        """Record `verdict` for row `key`; return the record as written.

        A "good" verdict needs a non-blank text (the scanner ignores a blank one);
        the other verdicts keep whatever text the record held. Other fields of the
        record are kept as they were. `provenance` (curator, judged_at,
        judged_text, judged_source) is stored beside the verdict and appended to
        the record's history; the scanner reads only verdict and locked_text.
        """
        if verdict not in VERDICTS:
            raise VerdictFileError(f"unknown verdict {verdict!r}; expected one of {', '.join(VERDICTS)}")
        if verdict == "good" and (locked_text is None or not locked_text.strip()):
            raise VerdictFileError("a Good verdict needs the description text to lock")

        def change(doc: dict) -> dict:
            entries = doc["entries"]
            old = entries.get(key)
            record = dict(old) if isinstance(old, dict) else {}
            record["verdict"] = verdict
            if verdict == "good":
                record["locked_text"] = locked_text
            if provenance:
                record.update(provenance)
                step = {"verdict": verdict, **provenance}
                if verdict == "good":
                    step["locked_text"] = locked_text
                history = record.get(HISTORY_FIELD)
                history = [h for h in history if isinstance(h, dict)] if isinstance(history, list) else []
                record[HISTORY_FIELD] = [*history, step][-MAX_HISTORY:]
            entries[key] = record
            return record

        return self._update(change, allow_flat=False)

    def convert_flat(self) -> None:
        """Rewrite a flat-form file in the wrapped form, every record kept."""
        self._update(lambda doc: None, allow_flat=True)

    def _update(self, change, allow_flat: bool):
        try:
            self.index_dir.mkdir(parents=True, exist_ok=True)
            with self._locked():
                return self._update_locked(change, allow_flat)
        except VerdictFileError:
            raise
        except OSError as exc:
            named = exc.filename2 or exc.filename     # a rename names its target second
            where = f" {named}" if named else ""
            raise VerdictFileError(f"cannot write the verdict file{where}: {exc.strerror}; nothing was changed") \
                from None
        finally:
            self._cache = (None, None)   # a rewrite within the clock's granularity must not look unchanged

    def _update_locked(self, change, allow_flat: bool):
        # A program that writes without the lock may replace the file while we
        # work: what it wrote is read and merged again, as another writer's is.
        for _ in range(_MERGE_ATTEMPTS):
            before = self._stat_key()
            raw = self._read_bytes()
            form, doc, problem = _classify(raw)
            if form == INVALID:
                raise VerdictFileError(f"{self.path} is {problem}; it is left untouched. "
                                       "Repair or move it away, then try again.")
            if form == FLAT and not allow_flat:
                raise VerdictFileError(f"{self.path} is in the flat form; convert it to the wrapped form first.")
            if form == MISSING:
                doc = {"version": SCHEMA_VERSION, "entries": {}}
            elif form == FLAT:
                doc = {"version": SCHEMA_VERSION, "entries": doc}
            result = change(doc)
            new = json.dumps(doc, indent=2, ensure_ascii=False).encode("utf-8") + b"\n"
            if self._stat_key() == before:
                self._replace(raw, new)
                return result
        raise VerdictFileBusy(f"{self.path} kept changing while it was being written; nothing was written, "
                              "try again")

    def _locked(self):
        return _FileLock(self.lock_path, self.lock_timeout)

    def _replace(self, old: bytes | None, new: bytes) -> None:
        """Keep `old` as the backup, then put `new` in place; each step atomic."""
        if old is not None:
            _write_atomically(self.backup_path, old)
        _write_atomically(self.path, new)
        _fsync_dir(self.index_dir)


def _write_atomically(path: Path, data: bytes) -> None:
    fd, tmp = tempfile.mkstemp(prefix=path.name + ".", suffix=".tmp", dir=path.parent)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        raise


def _fsync_dir(path: Path) -> None:
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


class _FileLock:
    """An exclusive flock on a side file, shared by every process and thread.

    Each acquisition opens the file afresh, so two threads of one server exclude
    each other as two servers do.
    """

    def __init__(self, path: Path, timeout: float):
        self.path = path
        self.timeout = timeout
        self.fd = -1

    def __enter__(self):
        # Only ever ours: a link there would make us create or lock a file elsewhere.
        self.fd = open_regular(self.path, os.O_RDWR | os.O_CREAT, "the lock file", follow=False)
        deadline = time.monotonic() + self.timeout
        while True:
            try:
                fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return self
            except OSError as exc:
                if exc.errno not in (errno.EAGAIN, errno.EACCES):
                    os.close(self.fd)
                    raise
            if time.monotonic() >= deadline:
                os.close(self.fd)
                raise VerdictFileBusy(f"{self.path} is held by another writer for over {self.timeout:g} s; "
                                      "nothing was written, try again")
            time.sleep(0.01)

    def __exit__(self, *exc):
        fcntl.flock(self.fd, fcntl.LOCK_UN)
        os.close(self.fd)
