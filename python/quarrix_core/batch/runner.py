"""A batch from manifest to results: what is unchanged, what runs where, and what is written."""

from __future__ import annotations

import fcntl
import logging
import os
import signal
import socket
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Optional

from .flights import Flight, Flights, topic
from .gitrepo import GitError, checkout_identity, is_dirty, resolve_remote, resume, stop_all
from .llm_pace import add_stats
from .manifest import RepoSpec
from .progress import Progress
from .redact import scrub, secrets_of
from .settings import ScanSettings, entry_digest, result_key
from .store import ResultStore

_LS_REMOTE_THREADS = 16
_LS_REMOTE_TIMEOUT = 120.0
_SCHEDULER_TIMEOUT = 4.0      # for each of our probe and Dask's connection: a dead address fails in seconds


@dataclass
class BatchOptions:
    work: str
    store: str
    workers: Optional[int] = None        # None: one per CPU
    scheduler: Optional[str] = None      # address of an existing cluster's scheduler
    force: bool = False
    repo_timeout: float = 1800.0
    progress: bool = True


@dataclass
class RepoOutcome:
    spec: RepoSpec
    status: str = "pending"              # "scanned", "unchanged", "failed" or "interrupted"
    commit: str = ""
    rows: int = 0
    seconds: float = 0.0
    attempts: int = 0
    worker: str = ""
    lost_workers: list = field(default_factory=list)    # workers that died while scanning it, in order
    error: Optional[str] = None

    def status_record(self) -> dict:
        return {"index": self.spec.index + 1, "source": self.spec.source, "ref": self.spec.ref,
                "namespace": self.spec.namespace, "status": self.status, "commit": self.commit,
                "rows": self.rows, "seconds": self.seconds, "attempts": self.attempts, "worker": self.worker,
                "lost_workers": self.lost_workers, "error": self.error}


@dataclass
class BatchResult:
    outcomes: list
    seconds: float
    cluster_seconds: float = 0.0         # spent starting (or reaching) the cluster
    llm_stats: dict = field(default_factory=dict)
    llm_dead: set = field(default_factory=set)

    def count(self, status: str) -> int:
        return sum(o.status == status for o in self.outcomes)


@dataclass
class _Planned:
    spec: RepoSpec
    entry: str
    key: Optional[str]                   # None: cannot tell before scanning
    remote: Optional[dict] = None        # what the remote said of the ref, for the task
    commit: str = ""                     # as far as known before scanning


class BatchBusy(Exception):
    """Another batch is using the same work directory."""


def run_batch(specs: list, settings: ScanSettings, options: BatchOptions) -> BatchResult:
    start = time.monotonic()
    os.makedirs(options.work, exist_ok=True)
    # Two batches in one work directory would check out into the same clones.
    guard = open(os.path.join(options.work, ".quarrix-batch.lock"), "w")
    try:
        fcntl.flock(guard, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        guard.close()
        raise BatchBusy(f"another quarrix-batch is using the work directory {options.work}") from None
    try:
        return _run_locked(specs, settings, options, start)
    finally:
        guard.close()


def _run_locked(specs: list, settings: ScanSettings, options: BatchOptions, start: float) -> BatchResult:
    store = ResultStore(options.store)
    outcomes = [RepoOutcome(spec) for spec in specs]
    progress = Progress(len(specs), enabled=options.progress)
    result = BatchResult(outcomes, 0.0)
    try:
        to_scan = []
        for planned in _plan([s for s in specs if s.error is None], settings):
            outcome = outcomes[planned.spec.index]
            stored = store.get(planned.entry)
            if (not options.force and planned.key is not None and stored is not None
                    and stored.key == planned.key):
                outcome.status, outcome.commit, outcome.rows = "unchanged", stored.commit, stored.row_count
                progress.advance(rows=stored.row_count)
            else:
                to_scan.append(planned)
        for outcome in outcomes:
            if outcome.spec.error is not None:
                outcome.status, outcome.error = "failed", outcome.spec.error
                progress.advance(failed=True)
        if to_scan:
            _scan_on_cluster(to_scan, settings, options, store, result, progress)
    finally:
        progress.close()
        store.close()
    result.seconds = round(time.monotonic() - start, 3)
    return result


def _plan(specs: list, settings: ScanSettings) -> list:
    """Each entry's store name and, when git can tell it without a checkout, the key it would be stored under."""

    def plan(spec: RepoSpec) -> _Planned:
        entry = entry_digest(spec, settings)
        if spec.url:
            try:
                remote = resolve_remote(spec.url, spec.ref, _LS_REMOTE_TIMEOUT)
            except GitError:
                return _Planned(spec, entry, None)   # the task will meet the same fault and report it
            return _Planned(spec, entry, result_key(entry, {"remote": remote.key_part()}), remote.key_part(),
                            remote.commit)
        identity = checkout_identity(spec.path)
        if identity is None or is_dirty(spec.path):
            # No commit names its content.
            return _Planned(spec, entry, None, commit=identity.commit if identity else "")
        return _Planned(spec, entry, result_key(entry, {"identity": vars(identity), "dirty": False}),
                        commit=identity.commit)

    pool = ThreadPoolExecutor(_LS_REMOTE_THREADS)
    try:
        return list(pool.map(plan, specs))
    except BaseException:
        stop_all()          # interrupted: the threads' git runs end now, not at their time-out
        raise
    finally:
        pool.shutdown(cancel_futures=True)
        resume()


def _request(planned: _Planned, settings: ScanSettings, options: BatchOptions, run_id: str) -> dict:
    spec = planned.spec
    return {
        "index": spec.index, "run_id": run_id, "source": spec.source, "url": spec.url, "path": spec.path,
        "ref": spec.ref, "remote": planned.remote, "namespace": spec.namespace, "granularity": spec.granularity,
        "exclude": spec.exclude, "bucket_map": spec.bucket_map, "work": os.path.abspath(options.work),
        "repo_timeout": options.repo_timeout,
        "scan": {"verify": settings.verify, "tool_budget": settings.tool_budget, "tool_memory": settings.tool_memory,
                 "cache_dir": settings.cache_dir, "use_cache": settings.use_cache, "use_llm": settings.use_llm,
                 "verdicts": settings.verdicts, "llm_pace": settings.llm_pace,
                 "llm_providers": settings.llm_providers},
    }


class ClusterError(Exception):
    """The cluster could not be started or reached."""


def _client(options: BatchOptions):
    try:
        return _start_client(options)
    except (OSError, ValueError, TypeError) as e:   # a bad address, or one that does not answer
        detail = str(e)
    except Exception as e:  # whatever else Dask raises on a failed start or a peer that is no scheduler
        detail = f"{type(e).__name__}: {e}" if not options.scheduler else \
            f"it does not answer as a Dask scheduler ({type(e).__name__})"
    where = f"the scheduler at {options.scheduler}" if options.scheduler else "a local cluster"
    raise ClusterError(" ".join(f"cannot use {where}: {detail}".split())) from None


def _start_client(options: BatchOptions):
    import dask
    from distributed import Client, LocalCluster

    if options.scheduler:
        # Dask would try a refused address for its whole time-out, and wait on a silent one for ever.
        _reachable(options.scheduler)
        return Client(options.scheduler, timeout=f"{_SCHEDULER_TIMEOUT:g}s"), None
    # A task whose worker dies is run once more, then reported (KilledWorker). A
    # worker holds one task at a time: one queued behind a repository that kills
    # its worker would be counted among the causes. Dask's own log lines would
    # repeat what the summary says of each repository. Any user of the machine
    # could reach the scheduler's port, run code as ours and read the tasks'
    # URLs, credentials included: only holders of this run's own TLS
    # certificate (the batch and its workers) may connect, and the web servers
    # (on loopback, a free port each: other clusters may run here) serve no page.
    with dask.config.set({"distributed.scheduler.allowed-failures": 1,
                          "distributed.scheduler.worker-saturation": 1.0,
                          "distributed.scheduler.http.routes": [], "distributed.worker.http.routes": []}), \
            _signals_ignored():
        cluster = LocalCluster(n_workers=options.workers or len(os.sched_getaffinity(0)), threads_per_worker=1,
                               processes=True, dashboard_address="127.0.0.1:0", silence_logs=logging.CRITICAL,
                               security=True)
        return Client(cluster), cluster


def _reachable(address: str) -> None:
    """OSError unless a tcp:// scheduler address opens a connection and speaks first, as a Dask scheduler does.

    Dask waits for a connected peer's handshake without end: a port that
    accepts and stays silent would hang the batch.
    """
    from distributed.comm import parse_address, parse_host_port

    scheme, location = parse_address(address)
    if scheme != "tcp":
        return                             # TLS and other transports: Dask's own time-outs apply
    host, port = parse_host_port(location)
    deadline = time.monotonic() + _SCHEDULER_TIMEOUT
    try:
        with socket.create_connection((host, port), timeout=_SCHEDULER_TIMEOUT) as sock:
            sock.settimeout(max(deadline - time.monotonic(), 0.001))
            spoke = sock.recv(1, socket.MSG_PEEK)
    except socket.timeout:
        raise OSError(f"no answer from {host} port {port} in {_SCHEDULER_TIMEOUT:g} s") from None
    except OSError as e:
        raise OSError(f"cannot connect to {host} port {port}: {e.strerror or e}") from None
    if not spoke:
        raise OSError(f"{host} port {port} closed the connection unasked: no Dask scheduler there")


class _signals_ignored:
    """Worker processes started meanwhile inherit SIGINT, SIGTERM and SIGHUP ignored.

    A Ctrl-C reaches the whole process group: the workers would each print a
    traceback. The batch itself stops them when it is interrupted; a signal
    that comes while they start (a second or so) goes unseen.
    """

    _SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def __enter__(self):
        self.saved = None
        if threading.current_thread() is threading.main_thread():
            self.saved = [signal.signal(s, signal.SIG_IGN) for s in self._SIGNALS]

    def __exit__(self, *exc):
        if self.saved is not None:
            for s, handler in zip(self._SIGNALS, self.saved):
                signal.signal(s, handler)
        return False


def _scan_on_cluster(to_scan: list, settings: ScanSettings, options: BatchOptions, store: ResultStore,
                     result: BatchResult, progress: Progress) -> None:
    from distributed import as_completed
    from distributed.client import FutureCancelledError
    from distributed.scheduler import KilledWorker

    from .task import run_repo

    run_id = uuid.uuid4().hex[:12]
    start = time.monotonic()
    client, cluster = _client(options)
    result.cluster_seconds = round(time.monotonic() - start, 3)
    flights = Flights()
    try:
        # Before the first task, on the same stream: no start goes unheard.
        client.subscribe_topic(topic(run_id), flights.heard)
        progress.watch(lambda: [(result.outcomes[i].spec.namespace, s) for i, s in flights.in_flight()])
        futures = {}
        for planned in to_scan:
            future = client.submit(run_repo, _request(planned, settings, options, run_id), pure=False,
                                   key=f"quarrix-batch-{run_id}-{planned.spec.index}")
            futures[future] = planned
        for future in as_completed(futures):
            planned = futures[future]
            outcome = result.outcomes[planned.spec.index]
            flight = flights.land(planned.spec.index)
            try:
                answer = future.result()
            except KilledWorker as e:
                # Every worker it ran on died; Dask counts them even when a dying worker's word was lost.
                last = str(getattr(e.last_worker, "address", e.last_worker))
                lost = flight.workers if flight.workers[-1:] == [last] else [*flight.workers, last]
                _lost(outcome, planned, flight, lost, last)
                outcome.attempts = max(outcome.attempts, e.allowed_failures + 1)
                outcome.error = (f"its worker process died {_times(outcome.attempts)} while scanning it "
                                 "(out of memory, or killed)")
            except (FutureCancelledError, Exception) as e:  # whatever went wrong, it is this repository's failure
                _lost(outcome, planned, flight, flight.workers[:-1], (flight.workers or [""])[-1])
                outcome.error = scrub(f"{type(e).__name__}: {e}", secrets_of(planned.spec.url))
            else:
                _record(answer, planned, outcome, store, result, options.work)
                # Every start before the one that answered was on a worker that died.
                outcome.lost_workers = flight.workers[:-1]
                outcome.attempts += len(outcome.lost_workers)
            future.release()
            progress.advance(failed=outcome.status in ("failed", "interrupted"), rows=outcome.rows)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def _lost(outcome: RepoOutcome, planned: _Planned, flight: Flight, lost: list, worker: str) -> None:
    """A task that ended without an answer: what the batch heard of it stands for what it would have said."""
    outcome.status, outcome.lost_workers, outcome.worker = "failed", lost, worker
    outcome.attempts = max(len(flight.workers), len(lost), 1)
    outcome.commit = flight.commit or planned.commit
    outcome.seconds = flight.seconds()


def _times(n: int) -> str:
    return {1: "once", 2: "twice"}.get(n, f"{n} times")


def _record(answer: dict, planned: _Planned, outcome: RepoOutcome, store: ResultStore, result: BatchResult,
            work: str) -> None:
    add_stats(result.llm_stats, answer.get("llm_stats", {}))
    result.llm_dead.update(answer.get("llm_dead", []))
    outcome.status, outcome.seconds, outcome.attempts = answer["status"], answer["seconds"], answer["attempts"]
    outcome.worker = answer.get("worker", "")
    outcome.commit = answer.get("commit") or planned.commit
    if answer["status"] != "scanned":
        outcome.error = answer.get("error")
        return
    outcome.commit, outcome.rows = answer["commit"], answer["row_count"]
    spec = planned.spec
    from .task import clone_dir

    # Where the review page finds the sources of these rows, and whether their commit holds them.
    checkout = clone_dir(os.path.abspath(work), spec.source, spec.ref) if spec.url else spec.path
    store.put(planned.entry, result_key(planned.entry, answer["revision"]), spec.source, spec.ref, outcome.commit,
              _version(), answer["rows_jsonl"], answer["row_count"], answer["seconds"], checkout=checkout,
              dirty=answer["revision"].get("dirty", False))


def _version() -> str:
    import quarrix_core

    return quarrix_core.__version__


def write_outputs(result: BatchResult, store_path: str, output: Optional[str], status: Optional[str],
                  settings: ScanSettings) -> None:
    """The rows of every repository that has them, and one status line per repository, in manifest order."""
    if output:
        store = ResultStore(store_path)
        try:
            with _atomic(output) as f:
                for outcome in result.outcomes:
                    if outcome.status in ("scanned", "unchanged"):
                        stored = store.get(entry_digest(outcome.spec, settings))
                        f.write(stored.rows_jsonl.encode("utf-8"))
        finally:
            store.close()
    if status:
        import json

        with _atomic(status) as f:
            for outcome in result.outcomes:
                f.write((json.dumps(outcome.status_record()) + "\n").encode("ascii"))


class _atomic:
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
