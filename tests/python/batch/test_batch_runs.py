"""quarrix-batch end to end on a local cluster of two worker processes."""

import fcntl
import json
import os
import signal
import sqlite3
import subprocess
import sys
import time

import pytest

from quarrix_core.batch.cli import main
from quarrix_core.batch.jsonl import row_line
from quarrix_core.batch.task import clone_dir

from batch_repos import commit_file, make_repo, verilog


def write_manifest(path, entries, defaults=None):
    path.write_text(json.dumps({"defaults": defaults or {}, "repositories": entries}))
    return path


def statuses(path):
    return [json.loads(line) for line in path.read_text().splitlines()]


def batch(tmp_path, manifest, scheduler, *extra):
    out, status = tmp_path / "rows.jsonl", tmp_path / "status.jsonl"
    code = main([str(manifest), "--work", str(tmp_path / "work"), "--scheduler", scheduler, "--no-verify",
                 "-o", str(out), "--status", str(status), *extra])
    return code, out.read_bytes() if out.exists() else b"", statuses(status)


def quarrix_scan(repo, *options):
    return subprocess.run(["quarrix-scan", str(repo), "--no-verify", "--no-llm", "--format", "jsonl", "-q", *options],
                          check=True, capture_output=True).stdout


def test_rows_match_quarrix_scan_and_only_changed_repositories_are_rescanned(tmp_path, six_repos, scheduler):
    entries = [{"url": r.as_uri()} for r in six_repos]
    entries[0]["ref"] = "v1.0"
    entries[3]["granularity"] = "all"
    entries[5]["exclude"] = ["*crc16*"]
    manifest = write_manifest(tmp_path / "m.json", entries, defaults={"granularity": "top"})

    code, rows, status = batch(tmp_path, manifest, scheduler, "--no-llm")
    assert code == 0
    assert [s["status"] for s in status] == ["scanned"] * 6
    # Byte for byte what quarrix-scan prints for each checkout with the same options, in manifest order.
    expected = b""
    for entry, state in zip(entries, status):
        checkout = clone_dir(str(tmp_path / "work"), entry["url"], entry.get("ref", ""))
        opts = ["--granularity", entry.get("granularity", "top"), "--namespace", state["namespace"]]
        for pattern in entry.get("exclude", []):
            opts += ["--exclude", pattern]
        expected += quarrix_scan(checkout, *opts)
    assert rows == expected
    assert "größe" in rows.decode() and b'"tag":"v1.0"' in rows

    code, rerun_rows, status = batch(tmp_path, manifest, scheduler, "--no-llm")
    assert code == 0 and rerun_rows == rows
    assert [s["status"] for s in status] == ["unchanged"] * 6

    commit_file(six_repos[4], "extra.v", verilog("timer_extra"))
    code, rows_after, status = batch(tmp_path, manifest, scheduler, "--no-llm")
    assert [s["status"] for s in status] == ["unchanged"] * 4 + ["scanned", "unchanged"]
    assert b"timer_extra" in rows_after

    # An option that changes rows is part of the key; --force rescans everything.
    code, _, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--tool-budget", "5")
    assert [s["status"] for s in status] == ["unchanged"] * 6          # no tool runs: the budget changes nothing
    code, _, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--force")
    assert [s["status"] for s in status] == ["scanned"] * 6


def test_faulty_repositories_fail_alone(tmp_path, six_repos, scheduler, capsys):
    origins = tmp_path / "origins"
    crash = make_repo(origins, "crash", {"a.v": verilog("a"), "CRASH_ME": ""})
    slow = make_repo(origins, "slow", {"b.v": verilog("b"), "SLOW_ME": ""})
    local = make_repo(origins, "local", {"c.v": verilog("c")})
    (tmp_path / "plain").mkdir()
    (tmp_path / "plain" / "d.v").write_text(verilog("d"))
    secret_url = "file://alice:s3cr3t-token@" + str(origins / "missing")
    entries = [
        {"url": crash.as_uri()},
        {"url": six_repos[0].as_uri()},
        {"url": slow.as_uri()},
        {"url": secret_url},
        {"url": six_repos[1].as_uri(), "ref": "no-such-branch"},
        {"path": str(tmp_path / "nowhere")},
        {"url": six_repos[0].as_uri()},                       # duplicate of entry 2
        {"path": str(local), "colour": "red"},                # unknown key
        {"path": str(local)},
        {"path": str(tmp_path / "plain")},                    # not a git checkout
    ]
    manifest = write_manifest(tmp_path / "m.yaml", entries)
    code, rows, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--repo-timeout", "4")
    assert code == 3
    by_index = {s["index"]: s for s in status}
    assert [s["status"] for s in status] == ["failed", "scanned", "failed", "failed", "failed", "failed", "failed",
                                             "failed", "scanned", "scanned"]
    assert "SIGSEGV" in by_index[1]["error"] and by_index[1]["attempts"] == 2
    assert "timed out after 4 s" in by_index[3]["error"] and by_index[3]["attempts"] == 1
    assert "no-such-branch" in by_index[5]["error"] and by_index[5]["attempts"] == 1
    assert "does not exist" in by_index[6]["error"]
    assert "duplicate of entry 2" in by_index[7]["error"]
    assert "unknown key(s) colour" in by_index[8]["error"]
    assert rows.count(b"\n") == 3

    # The credentials of a URL are in no message, status line or stored byte.
    err = capsys.readouterr().err
    assert "s3cr3t" not in err and "alice" not in err and "missing" in err
    assert "s3cr3t" not in json.dumps(status)
    work = tmp_path / "work"
    for file in work.rglob("*"):
        if file.is_file():
            assert b"s3cr3t" not in file.read_bytes(), file

    # A directory that is not a checkout is scanned every time; a clean checkout is not.
    code, _, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--repo-timeout", "4")
    assert [status[i]["status"] for i in (1, 8, 9)] == ["unchanged", "unchanged", "scanned"]
    (local / "untracked.v").write_text(verilog("e"))
    code, _, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--repo-timeout", "4")
    assert status[8]["status"] == "scanned"                   # a dirty work tree is not what its commit says
    (local / "untracked.v").unlink()
    code, _, status = batch(tmp_path, manifest, scheduler, "--no-llm", "--repo-timeout", "4")
    assert status[8]["status"] == "scanned"                   # nor are the rows of that scan the clean commit's


def test_a_repository_that_kills_its_worker_fails_alone(tmp_path, six_repos, scheduler):
    killer = make_repo(tmp_path / "origins", "killer", {"k.v": verilog("k"), "KILL_WORKER": ""})
    manifest = write_manifest(tmp_path / "m.json", [{"url": killer.as_uri()}, {"url": six_repos[2].as_uri()},
                                                    {"url": six_repos[5].as_uri()}])
    code, rows, status = batch(tmp_path, manifest, scheduler, "--no-llm")
    assert code == 3
    assert [s["status"] for s in status] == ["failed", "scanned", "scanned"]
    assert "worker process died twice" in status[0]["error"]


def test_the_store_survives_a_killed_batch(tmp_path, six_repos):
    origins = tmp_path / "origins"
    slow = [make_repo(origins, f"slow{i}", {f"s{i}.v": verilog(f"s{i}"), "SLOW_ME": ""}) for i in range(3)]
    entries = [{"url": r.as_uri()} for r in six_repos[:3] + slow]
    manifest = write_manifest(tmp_path / "m.json", entries)
    store = tmp_path / "work" / "results.sqlite"
    cmd = [sys.executable, "-m", "quarrix_core.batch", str(manifest), "--work", str(tmp_path / "work"),
           "--workers", "2", "--no-verify", "--no-llm", "-q"]
    proc = subprocess.Popen(cmd, start_new_session=True, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 40
        done = 0
        while done < 3 and time.monotonic() < deadline and proc.poll() is None:
            time.sleep(0.2)
            if store.exists():
                try:
                    done = sqlite3.connect(store).execute("SELECT count(*) FROM results").fetchone()[0]
                except sqlite3.Error:
                    pass
        assert done == 3, proc.stderr.read() if proc.poll() is not None else "no results in time"
    finally:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    db = sqlite3.connect(store)
    assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
    assert db.execute("SELECT count(*) FROM results").fetchone()[0] == 3
    db.close()

    for repo in slow:
        (repo / "SLOW_ME").unlink()
        commit_file(repo, "note.txt", "no longer slow\n")
    status = tmp_path / "status.jsonl"
    code = subprocess.run(cmd + ["--status", str(status)], capture_output=True).returncode
    assert code == 0
    assert [s["status"] for s in statuses(status)] == ["unchanged"] * 3 + ["scanned"] * 3


def test_a_cluster_that_cannot_be_used_fails_the_batch_with_a_message(tmp_path, capsys):
    (tmp_path / "plain").mkdir()
    (tmp_path / "m.yaml").write_text(f"repositories:\n  - path: {tmp_path / 'plain'}\n")
    assert main([str(tmp_path / "m.yaml"), "--work", str(tmp_path / "w"), "--scheduler", "no port", "-q"]) == 1
    assert "cannot use the scheduler at no port: missing port number" in capsys.readouterr().err


@pytest.mark.parametrize("value, line", [
    ("größe\t\x01", '{"k":"größe\\t\\u0001"}\n'),
    # Bytes that are not UTF-8, as the binding hands them over: each written as its escape.
    ("bad\udcff\udcfename.v", '{"k":"bad\\udcff\\udcfename.v"}\n'),
    ("cut\udce2\udc82n", '{"k":"cut\\udce2\\udc82n"}\n'),
])
def test_rows_are_written_as_quarrix_scan_writes_them(value, line):
    assert row_line({"k": value}) == line


def test_a_second_batch_on_the_same_work_directory_stops(tmp_path, capsys):
    (tmp_path / "plain").mkdir()
    (tmp_path / "m.yaml").write_text(f"repositories:\n  - path: {tmp_path / 'plain'}\n")
    (tmp_path / "w").mkdir()
    with open(tmp_path / "w" / ".quarrix-batch.lock", "w") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        assert main([str(tmp_path / "m.yaml"), "--work", str(tmp_path / "w"), "-q"]) == 1
    assert "another quarrix-batch is using the work directory" in capsys.readouterr().err
