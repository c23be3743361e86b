#!/usr/bin/env python3
"""Figures of quarrix-batch on public repositories that depend on each other.

The manifest names the repositories by their public https URLs; git reaches
them in the local bare mirrors (MIRRORS/<owner>+<name>/repo) through
`url.<mirror>.insteadOf` in a git configuration of the run's own
(GIT_CONFIG_GLOBAL), so that what their Bender.yml files declare matches
manifest entries as it would on the forge. With the HDL tools on PATH:

1. cold: a fresh work directory, store and tool cache, two local workers;
2. warm: --force, the checkouts and tool cache kept;
3. the unchanged rerun (the command, start to end);
4. verified tops of each dependent repository with its dependencies (the
   batch's rows) and without them (quarrix-scan on the same checkout alone);
5. the same batch through `dask scheduler` and two `dask worker` processes
   on loopback, one worker process killed while it scans (after
   --kill-after seconds): every repository scanned, rows identical to the
   local run's.

Prints Markdown tables; the README's figures come from them.

Usage: deps_bench.py [--mirrors /work/.mirror] [--dir DIR] [--kill-after SECONDS]
"""

import argparse
import json
import os
import pathlib
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

# (owner+name of the mirror, URL the manifest gives): the libraries and what is built on them, then three
# repositories of no dependency. fpnew's URL is served by its renamed home, openhwgroup/cvfpu.
REPOSITORIES = [
    ("pulp-platform+common_verification", "https://github.com/pulp-platform/common_verification.git"),
    ("pulp-platform+tech_cells_generic", "https://github.com/pulp-platform/tech_cells_generic.git"),
    ("pulp-platform+common_cells", "https://github.com/pulp-platform/common_cells.git"),
    ("pulp-platform+axi", "https://github.com/pulp-platform/axi.git"),
    ("pulp-platform+apb", "https://github.com/pulp-platform/apb.git"),
    ("pulp-platform+obi", "https://github.com/pulp-platform/obi.git"),
    ("pulp-platform+register_interface", "https://github.com/pulp-platform/register_interface.git"),
    ("pulp-platform+axi_riscv_atomics", "https://github.com/pulp-platform/axi_riscv_atomics.git"),
    ("openhwgroup+cvfpu", "https://github.com/pulp-platform/fpnew.git"),
    ("openhwgroup+cv32e40p", "https://github.com/openhwgroup/cv32e40p.git"),
    ("ZipCPU+wbuart32", "https://github.com/ZipCPU/wbuart32.git"),
    ("YosysHQ+picorv32", "https://github.com/YosysHQ/picorv32.git"),
    ("freecores+ethmac", "https://github.com/freecores/ethmac.git"),
]


def mirror_dir(mirrors: pathlib.Path, name: str) -> pathlib.Path:
    nested = mirrors / name / "repo"
    return nested if nested.is_dir() else mirrors / name


def git_config(path: pathlib.Path, mirrors: pathlib.Path) -> None:
    lines = []
    for name, url in REPOSITORIES:
        lines += [f'[url "{mirror_dir(mirrors, name).as_uri()}"]', f"\tinsteadOf = {url}"]
    path.write_text("\n".join(lines) + "\n")


def run_batch(manifest, work, cache, *extra, env):
    work.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    proc = subprocess.run([sys.executable, "-m", "quarrix_core.batch", str(manifest), "--work", str(work),
                           "--cache-dir", str(cache), "--no-llm", "-q", "-o", str(work / "rows.jsonl"),
                           "--status", str(work / "status.jsonl"), *extra], env=env, capture_output=True, text=True)
    seconds = time.monotonic() - start
    if proc.returncode not in (0, 3):
        sys.exit(f"quarrix-batch failed ({proc.returncode}): {proc.stderr}")
    status = [json.loads(line) for line in (work / "status.jsonl").read_text().splitlines()]
    return seconds, status, (work / "rows.jsonl").read_bytes()


def verified_tops(rows_jsonl: bytes) -> dict:
    out: dict = {}
    for line in rows_jsonl.decode().splitlines():
        row = json.loads(line)
        total, verified = out.get(row["namespace"], (0, 0))
        out[row["namespace"]] = (total + 1, verified + bool(row["verified"]))
    return out


def alone(checkout: str, namespace: str, cache, env) -> tuple:
    proc = subprocess.run(["quarrix-scan", checkout, "--namespace", namespace, "--no-llm", "-q", "--jobs", "2",
                           "--cache-dir", str(cache), "--format", "jsonl"], env=env, capture_output=True, check=True)
    return verified_tops(proc.stdout).get(namespace, (0, 0))


def _children(pid: int) -> list:
    out = subprocess.run(["pgrep", "-P", str(pid)], capture_output=True, text=True).stdout.split()
    return [int(p) for p in out]


def _cmdline(pid: int) -> bytes:
    try:
        return pathlib.Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return b""


class LoopbackCluster:
    """`dask scheduler` on 127.0.0.1 and two `dask worker` processes of one thread each."""

    def __init__(self, root: pathlib.Path, env: dict):
        env = {**env, "DASK_DISTRIBUTED__SCHEDULER__ALLOWED_FAILURES": "1",
               "DASK_DISTRIBUTED__SCHEDULER__WORKER_SATURATION": "1.0"}
        file = root / "scheduler.json"
        self.procs = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                        "--port", "0", "--no-dashboard", "--scheduler-file", str(file)], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
        while not file.exists():
            time.sleep(0.2)
        self.address = json.loads(file.read_text())["address"]
        self.nannies = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", "--scheduler-file",
                                          str(file), "--nthreads", "1", "--no-dashboard", "--host", "127.0.0.1"],
                                         env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                        for _ in range(2)]
        self.procs += self.nannies
        from distributed import Client

        with Client(self.address, timeout="30s") as client:
            client.wait_for_workers(2, timeout=120)

    def kill_a_worker_mid_scan(self, batch: subprocess.Popen):
        """SIGKILL to a worker process while a scan runs under it (its nanny starts another); its pid."""
        while batch.poll() is None:
            for nanny in self.nannies:
                for worker in _children(nanny.pid):
                    if any(b"scan_child" in _cmdline(c) for c in _children(worker)):
                        os.kill(worker, signal.SIGKILL)
                        return worker
            time.sleep(0.1)
        return None

    def close(self) -> None:
        for proc in reversed(self.procs):
            proc.terminate()
        for proc in self.procs:
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--mirrors", default="/work/.mirror", type=pathlib.Path)
    ap.add_argument("--dir", type=pathlib.Path, help="where the runs' work directories go (default: a temporary one)")
    ap.add_argument("--kill-after", type=float, default=30.0,
                    help="seconds into the cluster run after which a worker is killed at its next scan")
    args = ap.parse_args()
    root = args.dir or pathlib.Path(tempfile.mkdtemp(prefix="quarrix-deps-bench-"))
    root.mkdir(parents=True, exist_ok=True)
    git_config(root / "gitconfig", args.mirrors)
    env = {k: v for k, v in os.environ.items() if not k.endswith("_API_KEY")}
    env["GIT_CONFIG_GLOBAL"] = str(root / "gitconfig")
    manifest = root / "manifest.json"
    manifest.write_text(json.dumps({"repositories": [{"url": url} for _, url in REPOSITORIES]}))
    work, cache = root / "work", root / "cache"

    cold, status, rows = run_batch(manifest, work, cache, "--workers", "2", "--graph", str(root / "graph.json"),
                                   env=env)
    warm, _, warm_rows = run_batch(manifest, work, cache, "--workers", "2", "--force", env=env)
    unchanged, again, _ = run_batch(manifest, work, cache, "--workers", "2", env=env)
    assert all(s["status"] == "unchanged" for s in again), again
    lines = rows.count(b"\n")
    print(f"{len(status)} repositories, {lines} rows; statuses: "
          f"{sorted({s['status'] for s in status})}; warm rows identical: {warm_rows == rows}\n")
    print("| run | seconds |\n|---|--:|")
    print(f"| cold (fresh work directory, store and tool cache), 2 workers | {cold:.1f} |")
    print(f"| warm (`--force`, checkouts and tool cache kept), 2 workers | {warm:.1f} |")
    print(f"| unchanged rerun | {unchanged:.2f} |\n")

    with_deps = verified_tops(rows)
    print("| repository | commit | dependencies | verified tops alone | with its dependencies |\n|---|---|---|--:|--:|")
    for s in status:
        if not s["dependencies"]:
            continue
        with sqlite3.connect(work / "results.sqlite") as db:
            checkout = db.execute("SELECT checkout FROM results WHERE source = ?", (s["source"],)).fetchone()[0]
        total, verified = with_deps.get(s["namespace"], (0, 0))
        _, verified_alone = alone(checkout, s["namespace"], cache, env)
        print(f"| {s['namespace']} | {s['commit'][:7]} | {', '.join(d.split('.')[-1] for d in s['dependencies'])} "
              f"| {verified_alone} of {total} | {verified} of {total} |")
    unmatched = {s["namespace"]: s["unmatched_dependencies"] for s in status if s["unmatched_dependencies"]}
    print(f"\nunmatched declarations: {unmatched}\n")

    cluster = LoopbackCluster(root, env)
    try:
        (root / "work-cluster").mkdir(exist_ok=True)
        proc_start = time.monotonic()
        batch = subprocess.Popen([sys.executable, "-m", "quarrix_core.batch", str(manifest), "--work",
                                  str(root / "work-cluster"), "--cache-dir", str(root / "cache-cluster"), "--no-llm",
                                  "-q", "--scheduler", cluster.address, "-o", str(root / "cluster-rows.jsonl"),
                                  "--status", str(root / "cluster-status.jsonl")], env=env)
        time.sleep(args.kill_after)
        killed = cluster.kill_a_worker_mid_scan(batch)
        killed_at = time.monotonic() - proc_start
        code = batch.wait()
        seconds = time.monotonic() - proc_start
    finally:
        cluster.close()
    cluster_status = [json.loads(line) for line in (root / "cluster-status.jsonl").read_text().splitlines()]
    lost = {s["namespace"]: s["lost_workers"] for s in cluster_status if s["lost_workers"]}
    print(f"loopback cluster: exit {code}, {seconds:.1f} s (cold tool cache), worker process {killed} killed "
          f"{killed_at:.0f} s in, while it scanned; statuses {sorted({s['status'] for s in cluster_status})}; "
          f"lost workers {lost}; rows identical to the local run: "
          f"{(root / 'cluster-rows.jsonl').read_bytes() == rows}")


if __name__ == "__main__":
    main()
