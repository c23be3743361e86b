"""Progress of a batch on standard error: a bar on a terminal, a line every ten seconds otherwise."""

from __future__ import annotations

import sys
import threading
import time


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
        if not enabled:
            return
        if self._stream.isatty():
            from tqdm import tqdm

            self._bar = tqdm(total=total, unit="repo", desc="quarrix-batch", file=self._stream, leave=False)
        else:
            self._thread = threading.Thread(target=self._log, args=(interval,), daemon=True)
            self._thread.start()

    def advance(self, failed: bool = False, rows: int = 0) -> None:
        self.done += 1
        self.failed += int(failed)
        self.rows += rows
        if self._bar is not None:
            self._bar.set_postfix(failed=self.failed, rows=self.rows, refresh=False)
            self._bar.update(1)

    def line(self) -> str:
        return (f"quarrix-batch: {self.done}/{self.total} repositories ({self.failed} failed), "
                f"{self.rows} rows, {time.monotonic() - self._start:.0f} s")

    def _log(self, interval: float) -> None:
        while not self._stop.wait(interval):
            print(self.line(), file=self._stream, flush=True)

    def close(self) -> None:
        self._stop.set()
        if self._thread is not None:
            self._thread.join()
        if self._bar is not None:
            self._bar.close()
