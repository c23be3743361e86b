"""A batch from manifest to results: what is unchanged, what runs where, and what is written."""

from __future__ import annotations

import fcntl
import logging
import os
import shutil
import signal
import socket
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Optional

from .atomic import atomic_file
from .flights import Flight, Flights, topic
from .declared import Declared, declared_dependencies
from .gitrepo import (GitError, RemoteRef, checkout_identity, is_dirty, resolve_remote, resume, shallow_checkout,
                      stop_all)
from .graph import graph_document, write_graph
from .links import link
from .llm_pace import add_stats
from .manifest import RepoSpec
from .progress import Progress
from .redact import scrub, secrets_of
from .settings import ScanSettings, dependent_key, entry_digest, result_key
from .store import NewResult, ResultStore
from .task import clone_dir

_LS_REMOTE_THREADS = 16
_LS_REMOTE_TIMEOUT = 120.0
_SCHEDULER_TIMEOUT = 4.0      # for each of our probe and Dask's connection: a dead address fails in seconds
_CHECKOUT_THREADS = 2
GRAPH_FILE = "graph.json"
# Statuses of an entry that has no rows of this batch; any of them makes the exit status 3.
FAILED = ("failed", "interrupted", "dependency-cycle", "missing-dependency")
_UNAVAILABLE = "unavailable"  # a dependency's token when it has no rows: its dependents go without it


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
    dependencies: list = field(default_factory=list)            # namespaces it was scanned with
    skipped_dependencies: list = field(default_factory=list)    # namespaces it needs whose scan failed
    unmatched_dependencies: list = field(default_factory=list)  # declared URLs that name no entry

    def status_record(self) -> dict:
        return {"index": self.spec.index + 1, "source": self.spec.source, "ref": self.spec.ref,
                "namespace": self.spec.namespace, "status": self.status, "commit": self.commit,
                "rows": self.rows, "seconds": self.seconds, "attempts": self.attempts, "worker": self.worker,
                "lost_workers": self.lost_workers, "error": self.error, "dependencies": self.dependencies,
                "skipped_dependencies": self.skipped_dependencies,
                "unmatched_dependencies": self.unmatched_dependencies}


@dataclass
class BatchResult:
    outcomes: list
    seconds: float
    cluster_seconds: float = 0.0         # spent starting (or reaching) the cluster
    llm_stats: dict = field(default_factory=dict)
    llm_dead: set = field(default_factory=set)
    graph: dict = field(default_factory=dict)    # the registry's dependency graph (graph.py)

    def count(self, status: str) -> int:
        return sum(o.status == status for o in self.outcomes)

    def failures(self) -> int:
        return sum(o.status in FAILED for o in self.outcomes)


@dataclass
class _Planned:
    spec: RepoSpec
    entry: str
    key: Optional[str]                   # None: cannot tell before scanning
    remote: Optional[dict] = None        # what the remote said of the ref, for the task
    commit: str = ""                     # as far as known before scanning
    declared: list = field(default_factory=list)    # the Declared of its checkout
    checked_out: bool = False            # by the batch itself, before its task


@dataclass
class _Plan:
    """What the batch decided before scanning: the planned entries, their stored results, their links."""

    planned: dict
    stored: dict
    links: object


@dataclass
class _Books:
    """Where the batch writes what it learns: the result store, the batch's result and its progress line."""

    store: ResultStore
    result: BatchResult
    progress: Progress


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
        for outcome in outcomes:
            if outcome.spec.error is not None:
                outcome.status, outcome.error = "failed", outcome.spec.error
                progress.advance(failed=True)
        planned = {p.spec.index: p for p in _plan([s for s in specs if s.error is None], settings)}
        stored = {i: store.get(p.entry) for i, p in planned.items()}
        _read_declared(planned, stored, options)
        links = link(specs, {i: p.declared for i, p in planned.items()})
        for i, (status, error) in links.problems.items():
            outcomes[i].status, outcomes[i].error, outcomes[i].commit = status, error, planned[i].commit
            progress.advance(failed=True)
        for i, outcome in enumerate(outcomes):
            outcome.unmatched_dependencies = links.unmatched.get(i, [])
        _Driver(_Plan(planned, stored, links), settings, options, _Books(store, result, progress)).run()
        taken = {i: store.taken(p.entry) for i, p in planned.items() if outcomes[i].status in ("scanned", "unchanged")}
        result.graph = graph_document(outcomes, links, taken)
        # The registry's picture, for the review page: every batch leaves the one it saw.
        write_graph(result.graph, os.path.join(options.work, GRAPH_FILE))
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

    return _threaded(plan, specs, _LS_REMOTE_THREADS)


def _threaded(fn, items: list, threads: int) -> list:
    pool = ThreadPoolExecutor(threads)
    try:
        return list(pool.map(fn, items))
    except BaseException:
        stop_all()          # interrupted: the threads' git runs end now, not at their time-out
        raise
    finally:
        pool.shutdown(cancel_futures=True)
        resume()


def _read_declared(planned: dict, stored: dict, options: BatchOptions) -> None:
    """What each entry's checkout declares it depends on, known before any scan so that scans go in order.

    A commit scanned before declares what the store kept of it; any other is
    checked out here first (its task then finds it checked out, on this
    machine). A checkout that fails here twice declares nothing: its task tries again and reports the fault.
    """

    def read(p: _Planned) -> None:
        old = stored[p.spec.index]
        if old is not None and p.key is not None and old.own_key == p.key:
            p.declared = [Declared(**d) for d in old.declared]
        elif p.spec.path:
            p.declared = declared_dependencies(p.spec.path)
        elif p.remote is not None:
            repo = clone_dir(os.path.abspath(options.work), p.spec.source, p.spec.ref)
            for _ in range(2):
                try:
                    shallow_checkout(p.spec.url, p.spec.ref, repo, options.repo_timeout, RemoteRef(**p.remote))
                except GitError:
                    # Half-made or left locked by a killed git: made afresh, as the task would.
                    shutil.rmtree(os.path.dirname(repo), ignore_errors=True)
                    continue
                p.checked_out = True
                p.declared = declared_dependencies(repo)
                return

    _threaded(read, list(planned.values()), _CHECKOUT_THREADS)


def _request(planned: _Planned, settings: ScanSettings, options: BatchOptions, run_id: str,
             dependencies: list) -> dict:
    spec = planned.spec
    return {
        "dependencies": dependencies, "checked_out": planned.checked_out,
        "index": spec.index, "run_id": run_id, "source": spec.source, "url": spec.url, "path": spec.path,
        "ref": spec.ref, "remote": planned.remote, "namespace": spec.namespace, "granularity": spec.granularity,
        "exclude": spec.exclude, "bucket_map": spec.bucket_map, "work": os.path.abspath(options.work),
        "repo_timeout": options.repo_timeout,
        "scan": {"verify": settings.verify, "tool_budget": settings.tool_budget, "tool_memory": settings.tool_memory,
                 "cache_dir": settings.cache_dir, "use_cache": settings.use_cache, "jobs": settings.jobs,
                 "use_llm": settings.use_llm,
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


class _Driver:
    """Decides and scans the entries in dependency order: an entry once every entry it needs has its result.

    Entries that need nothing (or only what is decided) run at once, as many
    as the cluster has worker threads: a worker never holds a task it is not
    running, so a repository that kills its worker takes no queued one along.
    The cluster starts with the first entry that must be scanned.
    """

    def __init__(self, plan: _Plan, settings: ScanSettings, options: BatchOptions, books: _Books):
        self.planned, self.stored, self.links = plan.planned, plan.stored, plan.links
        self.settings, self.options = settings, options
        self.store, self.result, self.progress = books.store, books.result, books.progress
        # index -> what its dependents' keys take of it: its key, _UNAVAILABLE, or None (no key can tell its content)
        self.tokens = {o.spec.index: _UNAVAILABLE for o in self.result.outcomes
                       if o.spec.index not in self.planned or o.spec.index in self.links.problems}
        self.client = self.cluster = None
        self.run_id = uuid.uuid4().hex[:12]
        self.flights = Flights()

    def run(self) -> None:
        waiting = self.links.order(self.planned)
        ready: list = []
        in_flight: dict = {}
        try:
            while waiting or ready or in_flight:
                still, before = [], len(waiting)
                for i in waiting:
                    if all(d in self.tokens for d in self.links.deps.get(i, {})):
                        self._decide(i, ready)
                    else:
                        still.append(i)
                waiting = still
                while ready and len(in_flight) < self._capacity():
                    future, job = self._submit(*ready.pop(0))
                    in_flight[future] = job
                if not in_flight:
                    if len(waiting) == before:
                        break           # nothing left that any result could free (no cycle is left by now)
                    continue
                future = next(self.finished)
                self._landed(future, in_flight.pop(future))
        finally:
            if self.client is not None:
                self.client.close()
            if self.cluster is not None:
                self.cluster.close()

    def _decide(self, i: int, ready: list) -> None:
        planned, outcome = self.planned[i], self.result.outcomes[i]
        deps = sorted(self.links.deps.get(i, {}))
        outcome.dependencies = [self._namespace(d) for d in deps if self.tokens[d] != _UNAVAILABLE]
        outcome.skipped_dependencies = [self._namespace(d) for d in deps if self.tokens[d] == _UNAVAILABLE]
        tokens = [(self._namespace(d), self.tokens[d]) for d in deps]
        key = dependent_key(planned.key, tokens)
        old = self.stored[i]
        if not self.options.force and key is not None and old is not None and old.key == key:
            outcome.status, outcome.commit, outcome.rows = "unchanged", old.commit, old.row_count
            self.tokens[i] = key
            self.progress.advance(rows=old.row_count)
        else:
            ready.append((i, self._scanned_with(deps), tokens))

    def _scanned_with(self, deps: list) -> list:
        """The available `deps`, then what they were scanned with in turn, nearest first: a dependency's unit
        compiles only with that dependency's own dependencies. Their changes reach the key through `deps`' keys."""
        out: list = []
        seen: set = set()
        level = [d for d in deps if self.tokens[d] != _UNAVAILABLE]
        while level:
            below: list = []
            for d in level:
                if d not in seen:
                    seen.add(d)
                    out.append(d)
                    below.extend(e for e in sorted(self.links.deps.get(d, {})) if self.tokens[e] != _UNAVAILABLE)
            level = below
        return out

    def _namespace(self, i: int) -> str:
        return self.result.outcomes[i].spec.namespace

    def _capacity(self) -> int:
        if self.client is None:
            self._start()
        return max(1, sum(self.client.nthreads().values()))

    def _start(self) -> None:
        from distributed import as_completed

        start = time.monotonic()
        self.client, self.cluster = _client(self.options)
        self.result.cluster_seconds = round(time.monotonic() - start, 3)
        # Before the first task, on the same stream: no start goes unheard.
        self.client.subscribe_topic(topic(self.run_id), self.flights.heard)
        self.progress.watch(lambda: [(self.result.outcomes[i].spec.namespace, s)
                                     for i, s in self.flights.in_flight()])
        self.finished = as_completed()

    def _submit(self, i: int, deps: list, tokens: list):
        from .task import run_repo

        planned = self.planned[i]
        dependencies = [self._dependency(d) for d in deps]
        future = self.client.submit(run_repo, _request(planned, self.settings, self.options, self.run_id,
                                                       dependencies), pure=False, key=f"quarrix-batch-{self.run_id}-{i}")
        self.finished.add(future)
        return future, (planned, tokens)

    def _dependency(self, d: int) -> dict:
        spec, commit = self.result.outcomes[d].spec, self.result.outcomes[d].commit
        remote = self.planned[d].remote or {"kind": "commit", "name": commit, "commit": commit, "tags": []}
        path = clone_dir(os.path.abspath(self.options.work), spec.source, spec.ref) if spec.url else spec.path
        return {"path": path, "namespace": spec.namespace, "url": spec.url, "remote": remote, "commit": commit}

    def _landed(self, future, job) -> None:
        from distributed.client import FutureCancelledError
        from distributed.scheduler import KilledWorker

        planned, tokens = job
        outcome = self.result.outcomes[planned.spec.index]
        flight = self.flights.land(planned.spec.index)
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
            key = self._record(answer, planned, outcome, tokens)
            # Every start before the one that answered was on a worker that died.
            outcome.lost_workers = flight.workers[:-1]
            outcome.attempts += len(outcome.lost_workers)
            if outcome.status == "scanned":
                # What no commit names (an edited work tree) makes its dependents' keys unknown too.
                self.tokens[planned.spec.index] = key if planned.key is not None else None
        self.tokens.setdefault(planned.spec.index, _UNAVAILABLE)
        future.release()
        self.progress.advance(failed=outcome.status in FAILED, rows=outcome.rows)


    def _record(self, answer: dict, planned: _Planned, outcome: RepoOutcome, tokens: list) -> Optional[str]:
        """Takes in a task's answer; the key its rows are stored under, None when it has none."""
        add_stats(self.result.llm_stats, answer.get("llm_stats", {}))
        self.result.llm_dead.update(answer.get("llm_dead", []))
        outcome.status, outcome.seconds, outcome.attempts = answer["status"], answer["seconds"], answer["attempts"]
        outcome.worker = answer.get("worker", "")
        outcome.commit = answer.get("commit") or planned.commit
        if answer["status"] != "scanned":
            outcome.error = answer.get("error")
            return None
        outcome.commit, outcome.rows = answer["commit"], answer["row_count"]
        spec = planned.spec
        own_key = result_key(planned.entry, answer["revision"])
        # Stored even when a dependency's content had no key: the next batch scans it again all the same.
        key = dependent_key(own_key, [(ns, token or "") for ns, token in tokens])
        # Where the review page finds the sources of these rows, and whether their commit holds them.
        checkout = clone_dir(os.path.abspath(self.options.work), spec.source, spec.ref) if spec.url else spec.path
        self.store.put(planned.entry, NewResult(
            key, spec.source, spec.ref, outcome.commit, _version(), answer["rows_jsonl"], answer["row_count"],
            answer["seconds"], checkout=checkout, dirty=answer["revision"].get("dirty", False), own_key=own_key,
            declared=[vars(d) for d in planned.declared], edges=[tuple(edge) for edge in answer["edges"]]))
        return key


def _lost(outcome: RepoOutcome, planned: _Planned, flight: Flight, lost: list, worker: str) -> None:
    """A task that ended without an answer: what the batch heard of it stands for what it would have said."""
    outcome.status, outcome.lost_workers, outcome.worker = "failed", lost, worker
    outcome.attempts = max(len(flight.workers), len(lost), 1)
    outcome.commit = flight.commit or planned.commit
    outcome.seconds = flight.seconds()


def _times(n: int) -> str:
    return {1: "once", 2: "twice"}.get(n, f"{n} times")


def _version() -> str:
    import quarrix_core

    return quarrix_core.__version__


def write_outputs(result: BatchResult, store_path: str, output: Optional[str], status: Optional[str],
                  settings: ScanSettings) -> None:
    """The rows of every repository that has them, and one status line per repository, in manifest order."""
    if output:
        store = ResultStore(store_path)
        try:
            with atomic_file(output) as f:
                for outcome in result.outcomes:
                    if outcome.status in ("scanned", "unchanged"):
                        stored = store.get(entry_digest(outcome.spec, settings))
                        f.write(stored.rows_jsonl.encode("utf-8"))
        finally:
            store.close()
    if status:
        import json

        with atomic_file(status) as f:
            for outcome in result.outcomes:
                f.write((json.dumps(outcome.status_record()) + "\n").encode("ascii"))
