"""What an operator reads of a failure: git's own words, lost workers, what is running, a dead cluster, no extras."""

import io
import json
import os
import socket
import subprocess
import sys
import time

import pytest

from quarrix_core.batch.cli import main
from quarrix_core.batch.flights import Flights
from quarrix_core.batch.gitrepo import GitError, shallow_checkout
from quarrix_core.batch.progress import Progress

from batch_repos import git, make_repo, verilog


def test_git_failures_keep_the_lines_that_tell_the_cause(tmp_path):
    origin = make_repo(tmp_path, "origin", {"a.v": verilog("a"), "b.v": verilog("b")})
    blob = git(origin, "rev-parse", "HEAD:b.v").strip()
    loose = origin / ".git" / "objects" / blob[:2] / blob[2:]
    loose.chmod(0o644)
    loose.write_bytes(b"not zlib at all")
    with pytest.raises(GitError) as corrupt:
        shallow_checkout(origin.as_uri(), "main", str(tmp_path / "clone"), 60)
    message = str(corrupt.value)
    assert message.startswith("git fetch failed: ")
    assert f"loose object {blob}" in message and "possible repository corruption" in message
    assert "\0" not in message and message.count("; ") <= 3

    with pytest.raises(GitError) as missing:
        shallow_checkout((tmp_path / "nowhere").as_uri(), "main", str(tmp_path / "clone2"), 60)
    assert "does not appear to be a git repository; fatal: Could not read from remote repository." \
        in str(missing.value)


def test_progress_names_what_is_in_flight_longest_first():
    flights = Flights()
    for index, worker in [(0, "tcp://w1"), (1, "tcp://w2"), (2, "tcp://w1"), (3, "tcp://w2"), (1, "tcp://w3")]:
        flights.heard((0.0, {"index": index, "started": worker}))
        time.sleep(0.01)
    flights.heard((0.0, {"index": 2, "commit": "c0ffee"}))
    flights.heard((0.0, "not ours"))
    landed = flights.land(3)
    assert landed.workers == ["tcp://w2"]
    assert [i for i, _ in flights.in_flight()] == [0, 2, 1]      # 1 started anew on w3, after 2
    assert flights.land(1).workers == ["tcp://w2", "tcp://w3"] and flights.land(2).commit == "c0ffee"

    names = {0: "acme.uart", 1: "acme.spi", 2: "acme.fifo\x1b[2J"}
    stream = io.StringIO()
    progress = Progress(4, stream=stream, interval=0.05)
    progress.watch(lambda: [(names[i], s) for i, s in [(0, 75.4), (1, 3.2), (2, 1.0), (2, 0.5)]])
    time.sleep(0.3)
    progress.close()
    line = stream.getvalue().splitlines()[-1]
    assert line.endswith("; scanning acme.uart 75 s, acme.spi 3 s, acme.fifo\\x1b[2J 1 s and 1 more")


def test_an_unreachable_scheduler_fails_within_ten_seconds_in_one_line(tmp_path, capsys):
    (tmp_path / "plain").mkdir()
    (tmp_path / "m.yaml").write_text(f"repositories:\n  - path: {tmp_path / 'plain'}\n")
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))                 # bound, never listening: refused
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen()                               # accepts, never speaks
    try:
        for sock, words in ((closed, "Connection refused"), (silent, "no answer from 127.0.0.1")):
            address = f"tcp://127.0.0.1:{sock.getsockname()[1]}"
            start = time.monotonic()
            assert main([str(tmp_path / "m.yaml"), "--work", str(tmp_path / "w"), "--scheduler", address,
                         "-q"]) == 1
            assert time.monotonic() - start < 10
            err = capsys.readouterr().err
            assert err.count("\n") == 1 and err.startswith(f"quarrix-batch: cannot use the scheduler at {address}: ")
            assert words in err
    finally:
        closed.close()
        silent.close()


@pytest.mark.parametrize("module, hidden, line", [
    ("quarrix_core.batch", "yaml", "quarrix-batch: the 'batch' extra is not installed (no module yaml); "
                                   "pip install 'quarrix-core[batch]'\n"),
    ("quarrix_core.batch", "distributed", "(no module distributed)"),
    ("quarrix_core.review", "starlette", "quarrix-review: the 'review' extra is not installed (no module starlette); "
                                         "pip install 'quarrix-core[review]'\n"),
])
def test_a_missing_extra_says_what_to_install(module, hidden, line):
    code = (f"import runpy, sys; sys.modules[{hidden!r}] = None; sys.argv = ['x', 'm.yml', '--index', '.']; "
            f"runpy.run_module({module!r}, run_name='__main__')")
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert proc.returncode == 2
    assert proc.stderr.count("\n") == 1 and line in proc.stderr and "Traceback" not in proc.stderr


def test_every_lost_worker_is_in_the_status(tmp_path, scheduler):
    lost = make_repo(tmp_path / "origins", "lost", {"l.v": verilog("l")})
    (lost / "KILL_ONCE").write_text("")
    killer = make_repo(tmp_path / "origins", "killer", {"k.v": verilog("k"), "KILL_WORKER": ""})

    # One batch each: a task waiting on a worker that another one kills would be counted among its causes.
    def batch(entry, name):
        (tmp_path / f"{name}.json").write_text(json.dumps({"repositories": [entry]}))
        status = tmp_path / f"{name}.jsonl"
        code = main([str(tmp_path / f"{name}.json"), "--work", str(tmp_path / "work"), "--scheduler", scheduler,
                     "--no-verify", "--no-llm", "-q", "--status", str(status)])
        return code, json.loads(status.read_text())

    code, recovered = batch({"path": str(lost)}, "lost")
    assert code == 0 and recovered["status"] == "scanned" and recovered["attempts"] == 2
    assert len(recovered["lost_workers"]) == 1 and recovered["lost_workers"][0] != recovered["worker"]
    assert not os.path.exists(lost / "KILL_ONCE")

    code, failed = batch({"url": killer.as_uri()}, "killer")
    assert code == 3 and failed["status"] == "failed" and "died twice" in failed["error"]
    assert failed["attempts"] == 2 and len(failed["lost_workers"]) == 2
    assert failed["worker"] == failed["lost_workers"][-1] and failed["seconds"] > 0
    assert failed["commit"] == git(killer, "rev-parse", "HEAD").strip()


def test_a_repository_that_kills_its_workers_takes_no_healthy_one_along(tmp_path, six_repos, scheduler):
    killer = make_repo(tmp_path / "origins", "killer", {"k.v": verilog("k"), "KILL_WORKER": ""})
    entries = [{"url": killer.as_uri()}, *({"url": r.as_uri()} for r in six_repos[:3])]
    (tmp_path / "m.json").write_text(json.dumps({"repositories": entries}))
    status = tmp_path / "s.jsonl"
    code = main([str(tmp_path / "m.json"), "--work", str(tmp_path / "work"), "--scheduler", scheduler,
                 "--no-verify", "--no-llm", "-q", "--status", str(status)])
    states = [json.loads(line)["status"] for line in status.read_text().splitlines()]
    assert code == 3 and states == ["failed"] + ["scanned"] * 3
