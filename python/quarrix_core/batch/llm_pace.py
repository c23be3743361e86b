"""The language-model pace across the whole cluster, and the batch's provider statistics.

One named Dask lock is held around every provider call of every scan on the
cluster and the pause that follows it, so calls are QUARRIX_LLM_PACE seconds
apart whichever worker makes them, as in a single sequential scan. A provider
that refuses its key is marked dead for the rest of the batch through a Dask
event, so other workers stop calling it too. With no pace the lock is not
taken: calls then run in parallel, as nothing asks them to wait.
"""

from __future__ import annotations

import quarrix_core.ip_scanner as _scanner

PACE_LOCK = "quarrix-batch-llm-pace"   # shared by every batch on a cluster: the providers' limits are too
PROVIDERS = tuple(_scanner._PROVIDER_FNS)
OUTCOMES = tuple(_scanner._LLM_OUTCOMES)


def new_counters() -> dict:
    """A provider's counters as the core starts them: every outcome word at 0, in order."""
    return {word: 0 for word in OUTCOMES}


def add_stats(total: dict, part: dict) -> None:
    for provider, counters in part.items():
        mine = total.setdefault(provider, new_counters())
        for word, count in counters.items():
            mine[word] = mine.get(word, 0) + count


def batch_summary(stats: dict, dead: set) -> str:
    """The core's summary text for the counters of all workers together, dead marks included."""
    _scanner.reset_llm_session()
    for provider in dead:
        _scanner._DEAD_PROVIDERS.add(provider)
    try:
        return _scanner.format_llm_summary(stats)
    finally:
        _scanner.reset_llm_session()


class PaceService:
    """Answers one scan process's provider calls from inside its Dask task."""

    def __init__(self, run_id: str):
        self._run_id = run_id
        self._lock = None
        self._held = False
        self._events: dict = {}
        self.stats: dict = {}
        self.dead: set = set()

    def _event(self, provider: str):
        from distributed import Event

        if provider not in self._events:
            self._events[provider] = Event(f"quarrix-batch-dead-{self._run_id}-{provider}")
        return self._events[provider]

    def known_dead(self) -> list:
        """Providers some scan of this batch found refusing its key."""
        for provider in PROVIDERS:
            if provider not in self.dead and self._event(provider).is_set():
                self.dead.add(provider)
        return sorted(self.dead)

    def handle(self, message: dict, timeout: float):
        """The answer to a message of the scan process, or None when it wants none."""
        if message.get("op") == "call":
            if message.get("lock"):
                from distributed import Lock

                self._lock = self._lock or Lock(PACE_LOCK)
                if not self._lock.acquire(timeout=max(timeout, 0.001)):
                    raise TimeoutError("waited for the language-model pace lock until the repository's time ran out")
                self._held = True
            return {"dead": self.known_dead()}
        if message.get("op") == "done":
            provider, outcome = message.get("provider"), message.get("outcome")
            try:
                if isinstance(provider, str) and isinstance(outcome, str):
                    counters = self.stats.setdefault(provider, new_counters())
                    counters[outcome] = counters.get(outcome, 0) + 1
                    if outcome == "403":
                        self.dead.add(provider)
                        self._event(provider).set()
            finally:
                self.release()
        return None

    def release(self) -> None:
        if self._held:
            self._held = False
            self._lock.release()
