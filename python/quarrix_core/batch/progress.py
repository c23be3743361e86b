"""Progress of a batch on standard error: a bar on a terminal, a line every ten seconds otherwise.

Both name the repositories being scanned, the longest-running first: the
one that holds the batch up is the one to look at.
"""

from __future__ import annotations

import sys
import threading
import time

from .redact import terminal_safe

_NAMED = 3            # repositories in flight named by name; the others are counted


class Progress:
    def __init__(self, total: int, enabled: bool = True, interval: float = 10.0, stream=None):
        self.total = total
        self.done = 0
        self.failed = 0
        self.rows = 0
        self._stream = stream or sys.stderr
        self._start = time.monotonic()
        self._bar = None
        self._stop = threading.Event()
        self._thread = None
        self._in_flight = list
        if not enabled:
            return
        if self._stream.isatty():
            from tqdm import tqdm

            self._bar = tqdm(total=total, unit="repo", desc="quarrix-batch", file=self._stream, leave=False)
            interval = 1.0
        self._thread = threading.Thread(target=self._log, args=(interval,), daemon=True)
        self._thread.start()

    def watch(self, in_flight) -> None:
        """`in_flight()` gives (name, seconds running) of each repository being scanned, longest first."""
        self._in_flight = in_flight

    def advance(self, failed: bool = False, rows: int = 0) -> None:
        self.done += 1
        self.failed += int(failed)
        self.rows += rows
        if self._bar is not None:
            self._bar.set_postfix_str(self._postfix(), refresh=False)
            self._bar.update(1)

    def running(self) -> str:
        flights = self._in_flight()
        if not flights:
            return ""
        named = ", ".join(f"{name} {seconds:.0f} s" for name, seconds in flights[:_NAMED])
        more = f" and {len(flights) - _NAMED} more" if len(flights) > _NAMED else ""
        return f"scanning {named}{more}"

    def line(self) -> str:
        running = self.running()
        return (f"quarrix-batch: {self.done}/{self.total} repositories ({self.failed} failed), "
                f"{self.rows} rows, {time.monotonic() - self._start:.0f} s" + (f"; {running}" if running else ""))

    def _postfix(self) -> str:
        return terminal_safe(", ".join(filter(None, (f"failed={self.failed}", f"rows={self.rows}", self.running()))))

    def _log(self, interval: float) -> None:
        while not self._stop.wait(interval):
            if self._bar is not None:
                self._bar.set_postfix_str(self._postfix())
            else:
                print(terminal_safe(self.line()), file=self._stream, flush=True)

    def close(self) -> None:
        self._stop.set()
        if self._thread is not None:
            self._thread.join()
        if self._bar is not None:
            self._bar.close()
