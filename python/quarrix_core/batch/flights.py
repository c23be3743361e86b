"""What the batch hears from its tasks while they run: where each one started, and at which commit.

A task tells its start, and its commit once checked out, as a Dask event
(the scheduler forwards it to the batch). A task whose worker dies is run
again elsewhere and starts anew: every start but the last is a lost worker.
Without these, a repository whose worker died twice would be reported with
no worker, commit or time at all.
"""

from __future__ import annotations

import threading
import time
from dataclasses import dataclass, field


def topic(run_id: str) -> str:
    return f"quarrix-batch-{run_id}"


@dataclass
class Flight:
    workers: list = field(default_factory=list)     # every worker it started on, in order
    first_start: float = 0.0                        # time.monotonic() of the first start
    last_start: float = 0.0
    commit: str = ""

    def seconds(self) -> float:
        return round(time.monotonic() - self.first_start, 3) if self.workers else 0.0


class Flights:
    def __init__(self):
        self._lock = threading.Lock()
        self._flights: dict[int, Flight] = {}
        self._landed: set = set()

    def heard(self, event) -> None:
        """Handler of the run's topic: `event` is (scheduler time, message)."""
        message = event[1]
        if not isinstance(message, dict) or not isinstance(message.get("index"), int):
            return
        with self._lock:
            flight = self._flights.setdefault(message["index"], Flight())
            if message.get("started"):
                now = time.monotonic()
                flight.workers.append(str(message["started"]))
                flight.first_start = flight.first_start or now
                flight.last_start = now
            if message.get("commit"):
                flight.commit = str(message["commit"])

    def land(self, index: int) -> Flight:
        """What was heard of the task of `index`, now that it has ended."""
        with self._lock:
            self._landed.add(index)
            return self._flights.get(index, Flight())

    def in_flight(self) -> list[tuple[int, float]]:
        """(index, seconds since its latest start) of each task running now, longest first."""
        now = time.monotonic()
        with self._lock:
            running = [(i, now - f.last_start) for i, f in self._flights.items()
                       if f.workers and i not in self._landed]
        return sorted(running, key=lambda r: (-r[1], r[0]))
