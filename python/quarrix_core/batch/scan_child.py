"""One repository's scan, in a process of its own.

The batch task starts this module for each repository, so that a scan that
crashes in native code or outruns its time kills this process only, never the
worker. The request comes as JSON on standard input; the result is written as
JSON to the file the request names.

Every language-model provider call goes through the task that started us (a
line on the channel out, an answer on the channel in): the task holds the
cluster-wide pace lock for the call and the pause after it, and counts the
call's outcome.
"""

from __future__ import annotations

import json
import math
import os
import signal
import sys
import time
import traceback

from quarrix_core.batch.edges import row_edges
from quarrix_core.batch.jsonl import row_line


def _die_with_parent() -> None:
    """A worker that dies takes its scan along (Linux); elsewhere the task's time-out does."""
    try:
        import ctypes

        pr_set_pdeathsig = 1
        ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)
    except (OSError, AttributeError):
        pass


class _Channel:
    def __init__(self, out_fd: int, in_fd: int):
        self._out = os.fdopen(out_fd, "w", buffering=1)
        self._in = os.fdopen(in_fd, "r")

    def send(self, message: dict) -> None:
        self._out.write(json.dumps(message) + "\n")
        self._out.flush()

    def ask(self, message: dict) -> dict:
        self.send(message)
        line = self._in.readline()
        if not line:
            raise SystemExit("the batch task went away")
        return json.loads(line)


def _paced_call(s, channel: _Channel, pace: float):
    """The scan's provider call: each under the task's lock, with the pause taken inside it."""
    native = {provider: getattr(s, fn_name) for provider, (_env, fn_name) in s._PROVIDER_FNS.items()}

    def call(provider, name, sig, lang, api_key, hints):
        answer = channel.ask({"op": "call", "provider": provider, "lock": pace > 0})
        for dead in answer.get("dead", []):
            s._DEAD_PROVIDERS.add(dead)
        if provider in answer.get("dead", []):
            # Refused its key to another scan of the batch: not asked again. The
            # task counts no call; for the chain it is a refusal, and it moves on.
            channel.send({"op": "done", "provider": provider, "outcome": None})
            return None, "403"
        outcome = None
        try:
            text, outcome = native[provider](name, sig, lang, api_key, hints=hints)
            return text, outcome
        finally:
            if pace > 0:
                s._llm_sleep(pace)
            channel.send({"op": "done", "provider": provider, "outcome": outcome})

    return call


def _test_probe(repo: str) -> None:
    """Test-only: QUARRIX_BATCH_TEST_PROBE="ACTION:FILE[,ACTION:FILE...]" acts when the repository holds FILE.

    ACTION is "crash" (this process dies as by a native fault), "kill-worker"
    (the worker that started us is killed), "kill-worker-once" (the same, FILE
    removed first, so that the next attempt goes through), "sleep=SECONDS", "signal=NAME"
    (this process gets SIGNAME) or "exit=STATUS" (it ends so, as quarrix-scan
    does when interrupted). Never set it outside the test suite.
    """
    for rule in filter(None, os.environ.get("QUARRIX_BATCH_TEST_PROBE", "").split(",")):
        action, _, marker = rule.partition(":")
        if not marker or not os.path.lexists(os.path.join(repo, marker)):
            continue
        if action == "crash":
            os.kill(os.getpid(), signal.SIGSEGV)
        elif action in ("kill-worker", "kill-worker-once"):
            if action == "kill-worker-once":
                os.unlink(os.path.join(repo, marker))
            os.kill(os.getppid(), signal.SIGKILL)
            time.sleep(60)
        elif action.startswith("sleep="):
            time.sleep(float(action[6:]))
        elif action.startswith("signal="):
            os.kill(os.getpid(), getattr(signal, "SIG" + action[7:]))
        elif action.startswith("exit="):
            os._exit(int(action[5:]))


def _scan(request: dict, channel: _Channel) -> dict:
    import quarrix_core.ip_scanner as s
    from quarrix_core.probes import default_probes

    # The chain and the pace as quarrix-batch saw them; the pause is taken under the lock, not by the core.
    providers = None if request["llm_providers"] is None else s._parse_provider_chain(request["llm_providers"])
    pace = s._resolve_pace() if request["llm_pace"] is None else s._parse_pace(request["llm_pace"])
    pace = pace if math.isfinite(pace) else 0.0   # as the core treats an infinite pace: no pause
    s.reset_llm_session()
    for dead in request["dead"]:
        s._DEAD_PROVIDERS.add(dead)

    _test_probe(request["repo"])
    probes = default_probes(verify=request["verify"], tool_budget=request["tool_budget"],
                            tool_memory=request["tool_memory"], cache_dir=request["cache_dir"],
                            cache=request["use_cache"])
    dependencies = [(path, namespace) for path, namespace in request["dependencies"]]
    scan = s.Scan(request["repo"], request["namespace"], request["url"], request["tag"], request["commit"],
                  probes, use_llm=request["use_llm"], granularity=request["granularity"],
                  description_verdicts=request["verdicts"], exclude_dirs=request["exclude"],
                  bucket_map=request["bucket_map"], dependencies=dependencies or None,
                  jobs=request["jobs"], report_units=bool(dependencies), llm_providers=providers, llm_pace=0.0,
                  provider_call=_paced_call(s, channel, pace))
    rows = scan.run()
    return {"rows_jsonl": "".join(row_line(row) for row in rows), "row_count": len(rows),
            "edges": row_edges(rows, scan.units)}


def main() -> int:
    _die_with_parent()
    # Interrupted, the scan ends at once: the task sees the signal and keeps nothing of it. (The
    # worker may have been started with these ignored, and would hand that on.)
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, signal.SIG_DFL)
    out_fd, in_fd = (int(fd) for fd in sys.argv[1].split(","))
    channel = _Channel(out_fd, in_fd)
    request = json.load(sys.stdin)
    try:
        result = _scan(request, channel)
    except Exception as e:  # the scan's own failure: reported, not a crash
        result = {"error": f"{type(e).__name__}: {e}", "trace": traceback.format_exc(limit=5)}
    tmp = request["result_path"] + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(result, f)  # ASCII: a message may hold the lone surrogates of a non-UTF-8 file name
    os.replace(tmp, request["result_path"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
