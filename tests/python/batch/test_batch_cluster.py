"""The batch on a real cluster on loopback: `dask scheduler` and two `dask worker` processes of their own."""

import json
import os
import subprocess
import sys
import time

import pytest

from quarrix_core.batch.cli import main

from test_batch_dependencies import _cells_and_app
from test_batch_runs import statuses, write_manifest


@pytest.fixture()
def loopback_cluster(tmp_path):
    """A scheduler on 127.0.0.1 and two workers of one thread each, as the README starts them."""
    env = {**os.environ, "DASK_DISTRIBUTED__SCHEDULER__ALLOWED_FAILURES": "1",
           "DASK_DISTRIBUTED__SCHEDULER__WORKER_SATURATION": "1.0"}
    file = tmp_path / "scheduler.json"
    started = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                 "--port", "0", "--no-dashboard", "--scheduler-file", str(file)],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        deadline = time.monotonic() + 60
        while not file.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        for _ in range(2):
            started.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", "--scheduler-file",
                                             str(file), "--nthreads", "1", "--no-dashboard", "--host", "127.0.0.1"],
                                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        from distributed import Client

        address = json.loads(file.read_text())["address"]
        with Client(address, timeout="30s") as client:
            client.wait_for_workers(2, timeout=60)
        yield address
    finally:
        for proc in reversed(started):
            proc.terminate()
        for proc in started:
            try:
                proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def test_a_loopback_cluster_gives_the_same_rows_and_loses_nothing_to_a_killed_worker(
        tmp_path, six_repos, scheduler, loopback_cluster):
    cells, app = _cells_and_app(tmp_path / "origins")
    entries = [{"url": app.as_uri()}, {"path": str(cells)}, *({"url": r.as_uri()} for r in six_repos[:3])]
    manifest = write_manifest(tmp_path / "m.json", entries)

    def batch(name, address):
        code = main([str(manifest), "--work", str(tmp_path / name), "--scheduler", address, "--no-verify",
                     "--no-llm", "-q", "-o", str(tmp_path / f"{name}.jsonl"), "--status", str(tmp_path / f"{name}.s")])
        return code, (tmp_path / f"{name}.jsonl").read_bytes(), statuses(tmp_path / f"{name}.s")

    code, local_rows, _ = batch("local", scheduler)
    assert code == 0
    # The dependency kills the worker process scanning it, once: its dependent waits for the retry.
    (cells / "KILL_ONCE").write_text("")
    code, rows, status = batch("loopback", loopback_cluster)
    assert code == 0 and [s["status"] for s in status] == ["scanned"] * 5
    assert status[1]["attempts"] == 2 and len(status[1]["lost_workers"]) == 1
    assert status[0]["dependencies"] == [status[1]["namespace"]]
    assert rows == local_rows and b'"name":"soc"' in rows
