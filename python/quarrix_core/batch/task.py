"""The Dask task of one repository: check it out, scan it in a child process, report.

A task never raises for a repository's own failure: it returns a result with
status "failed" and the cause, so that one repository never stops the rest.
A crashed scan process or a failed git run is tried once more; a scan that
raised or ran out of time, or a ref the remote does not have, is not, since
it would do the same again. A scan process stopped by SIGINT, SIGTERM or
SIGHUP (or ending with 130, 143 or 129, as quarrix-scan does then) makes the
repository "interrupted": not tried again, and none of its rows kept.
"""

from __future__ import annotations

import fcntl
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from typing import Optional

from .flights import topic
from .gitrepo import GitError, Identity, RefNotFound, RemoteRef, checkout_identity, is_dirty, shallow_checkout
from .llm_pace import PaceService
from .manifest import checkout_name
from .redact import scrub, secrets_of

_MAX_ATTEMPTS = 2
# Exit statuses of a process that stopped on SIGHUP, SIGINT or SIGTERM.
_INTERRUPTED = {128 + s: s for s in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)}


class _Failure(Exception):
    def __init__(self, cause: str, retry: bool, status: str = "failed"):
        super().__init__(cause)
        self.retry = retry
        self.status = status


def clone_dir(work: str, source: str, ref: str) -> str:
    """Where an URL's checkout lives: one directory per (URL, ref), named like the repository for quarrix-scan."""
    digest = hashlib.sha256(f"{source}\0{ref}".encode()).hexdigest()[:16]
    return os.path.join(work, "clones", digest, checkout_name(source))


def run_repo(request: dict) -> dict:
    """Scans one manifest entry; `request` is built by the batch runner."""
    start = time.monotonic()
    deadline = start + request["repo_timeout"]
    result = {"index": request["index"], "status": "failed", "attempts": 0,
              "commit": (request["remote"] or {}).get("commit", "")}
    worker = _worker()
    _tell(worker, request, started=worker.address if worker else "")
    pace = PaceService(request["run_id"])
    for attempt in range(1, _MAX_ATTEMPTS + 1):
        result["attempts"] = attempt
        try:
            result.update(_attempt(request, pace, deadline, attempt > 1, result, worker))
            result["status"] = "scanned"
            result.pop("error", None)
            break
        except _Failure as failure:
            result["status"] = failure.status
            result["error"] = scrub(str(failure), secrets_of(request["url"]))
            if not failure.retry or time.monotonic() >= deadline:
                break
    result["seconds"] = round(time.monotonic() - start, 3)
    result["llm_stats"], result["llm_dead"] = pace.stats, sorted(pace.dead)
    result["worker"] = worker.address if worker else ""
    return result


def _worker():
    from distributed import get_worker

    try:
        return get_worker()
    except ValueError:  # called outside a worker
        return None


def _tell(worker, request: dict, **news) -> None:
    """An event for the batch (see flights.py): should this worker die, the batch still knows what it did."""
    if worker is not None:
        worker.log_event(topic(request["run_id"]), {"index": request["index"], **news})


def _attempt(request: dict, pace: PaceService, deadline: float, retry: bool, result: dict, worker) -> dict:
    revision: dict = {}
    if request["url"]:
        repo = clone_dir(request["work"], request["source"], request["ref"])
        # The remote as the batch found it; a retry asks it afresh.
        resolved = RemoteRef(**request["remote"]) if request["remote"] and not retry else None
        try:
            if resolved and request["checked_out"] and _at_commit(repo, resolved.commit):
                remote = resolved       # the batch checked it out a moment ago, on this machine
            else:
                remote = shallow_checkout(request["url"], request["ref"], repo, deadline - time.monotonic(),
                                          resolved)
        except GitError as e:
            if not isinstance(e, RefNotFound):
                # A git killed (by a time-out, or with an interrupted batch) leaves its lock files, a failed
                # one a half-made checkout: the next attempt starts afresh.
                shutil.rmtree(os.path.dirname(repo), ignore_errors=True)
            raise _Failure(str(e), retry=not isinstance(e, RefNotFound)) from None
        revision["remote"] = remote.key_part()
    else:
        repo = request["path"]
    identity = checkout_identity(repo) or Identity()
    if identity.commit:
        result["commit"] = identity.commit      # kept should the scan fail
        _tell(worker, request, commit=identity.commit)
    if not request["url"]:
        # Rows from an edited work tree must not pass later for its clean commit.
        revision.update(identity=vars(identity), dirty=is_dirty(repo))
    dependencies = [[_dependency_checkout(dep, deadline), dep["namespace"]] for dep in request["dependencies"]]
    scanned = _scan_in_child(request, repo, identity, pace, deadline, dependencies)
    return {"revision": revision, "commit": identity.commit, **scanned}


def _at_commit(repo: str, commit: str) -> bool:
    identity = checkout_identity(repo)
    return identity is not None and identity.commit == commit and not is_dirty(repo)


def _dependency_checkout(dep: dict, deadline: float) -> str:
    """The checkout of a dependency at the commit it was scanned at; made here when this machine lacks it.

    On one machine it is the dependency's own checkout, untouched since its
    scan; the lock keeps two dependents on another machine from making it at once.
    """
    if not dep["url"] or _at_commit(dep["path"], dep["commit"]):
        return dep["path"]
    os.makedirs(os.path.dirname(dep["path"]), exist_ok=True)
    with open(os.path.join(os.path.dirname(dep["path"]), ".quarrix-dependency.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _at_commit(dep["path"], dep["commit"]):
            try:
                shallow_checkout(dep["url"], "", dep["path"], deadline - time.monotonic(), RemoteRef(**dep["remote"]))
            except GitError as e:
                raise _Failure(f"checkout of its dependency {dep['namespace']} failed: {e}", retry=True) from None
    return dep["path"]


def _scan_in_child(request: dict, repo: str, identity: Identity, pace: PaceService, deadline: float,
                   dependencies: list) -> dict:
    with tempfile.TemporaryDirectory(prefix="quarrix-batch-") as tmp:
        result_path = os.path.join(tmp, "result.json")
        child_request = {
            **request["scan"], "repo": repo, "namespace": request["namespace"], "url": identity.url,
            "tag": identity.tag, "commit": identity.commit, "granularity": request["granularity"],
            "exclude": request["exclude"], "bucket_map": request["bucket_map"], "result_path": result_path,
            "dead": pace.known_dead() if request["scan"]["use_llm"] else [], "dependencies": dependencies,
        }
        to_parent_r, to_parent_w = os.pipe()
        to_child_r, to_child_w = os.pipe()
        stderr_path = os.path.join(tmp, "stderr")
        with open(stderr_path, "wb") as stderr:
            proc = subprocess.Popen(
                [sys.executable, "-m", "quarrix_core.batch.scan_child", f"{to_parent_w},{to_child_r}"],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=stderr,
                pass_fds=(to_parent_w, to_child_r), start_new_session=True)
        os.close(to_parent_w)
        os.close(to_child_r)
        try:
            proc.stdin.write(json.dumps(child_request).encode())
            proc.stdin.close()
            timed_out = _serve(proc, pace, to_parent_r, to_child_w, deadline)
        except BrokenPipeError:
            timed_out = False
        finally:
            pace.release()
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            os.close(to_parent_r)
            os.close(to_child_w)
        if timed_out:
            raise _Failure(f"scan timed out after {request['repo_timeout']:g} s (--repo-timeout)", retry=False)
        stopped_by = -proc.returncode if proc.returncode < 0 else _INTERRUPTED.get(proc.returncode)
        if stopped_by in _INTERRUPTED.values():
            name = signal.Signals(stopped_by).name
            raise _Failure(f"scan process interrupted by {name}; no rows kept", retry=False, status="interrupted")
        if proc.returncode < 0:
            name = signal.Signals(-proc.returncode).name
            raise _Failure(f"scan process killed by {name} (a crash in the scanner, or out of memory)", retry=True)
        try:
            with open(result_path, encoding="utf-8") as f:
                outcome = json.load(f)
        except (OSError, ValueError):
            raise _Failure(f"scan process ended with status {proc.returncode}: {_tail(stderr_path)}",
                           retry=True) from None
        if "error" in outcome:
            raise _Failure(f"scan failed: {outcome['error']}", retry=False)
        return outcome


def _serve(proc: subprocess.Popen, pace: PaceService, inbox: int, outbox: int, deadline: float) -> bool:
    """Answers the scan process until it ends; True when it had to be stopped at the deadline."""
    pending = b""
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return True
        ready, _, _ = select.select([inbox], [], [], min(left, 1.0))
        if not ready:
            if proc.poll() is not None:
                return False
            continue
        chunk = os.read(inbox, 65536)
        if not chunk:  # the scan process closed its end: it has finished
            try:
                proc.wait(timeout=max(deadline - time.monotonic(), 0.001))
            except subprocess.TimeoutExpired:
                return True
            return False
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            try:
                answer = pace.handle(json.loads(line), deadline - time.monotonic())
            except TimeoutError:
                return True
            if answer is not None:
                os.write(outbox, (json.dumps(answer) + "\n").encode())


def _tail(path: str) -> Optional[str]:
    try:
        with open(path, "rb") as f:
            lines = [ln for ln in f.read()[-4000:].decode("utf-8", "replace").splitlines() if ln.strip()]
    except OSError:
        lines = []
    return lines[-1].strip() if lines else "no message"     # scrubbed with the rest of the message
