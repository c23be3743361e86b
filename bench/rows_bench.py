#!/usr/bin/env python3
"""Rows throughput of quarrix-scan: MB of JSON written per second and peak RSS.

Scans, without tools or language model and with -o FILE, a generated repository of --units
design units at --granularity all, and chains of one module per file (generate_repo.py --chain)
at --granularity top, whose rows are quadratic in their depth. Each scan runs in its own
process, so its peak RSS is its own. Prints a Markdown table; the README's figures come from it.
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent


def generate(work, units, chain):
    repo = work / (f"chain_{units}" if chain else f"repo_{units}")
    if not repo.exists():
        subprocess.run([sys.executable, HERE / "generate_repo.py", "--units", str(units), "--out", repo,
                        *(["--chain"] if chain else [])], check=True, capture_output=True)
    return repo


def source_bytes(repo):
    return sum(p.stat().st_size for p in repo.rglob("*") if p.is_file())


def scan(scanner, repo, granularity, out):
    """Wall and CPU seconds, peak RSS (KiB) of one scan."""
    empty_path = out.parent / "no-tools"
    empty_path.mkdir(exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.endswith("_API_KEY")}
    env["PATH"] = str(empty_path)
    argv = [scanner, repo, "--namespace", "bench", "--url", "https://example.invalid/bench.git", "--tag", "v1",
            "--commit", "0", "--no-llm", "-q", "--granularity", granularity, "-o", out]
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"scan of {repo} failed")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--units", type=int, default=4000, help="units of the generated repository (all)")
    parser.add_argument("--chains", default="1000,2000,4000,10000", help="chain depths (top)")
    parser.add_argument("--scanner", default=shutil.which("quarrix-scan"))
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "quarrix-rows-bench"))
    args = parser.parse_args()
    if not args.scanner:
        raise SystemExit("quarrix-scan is not on PATH; give --scanner")
    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    cases = [(generate(work, args.units, False), "all")]
    cases += [(generate(work, int(n), True), "top") for n in args.chains.split(",") if n]

    print("| repository | granularity | source MiB | rows MB | wall s | cpu s | rows MB/s (wall) | peak RSS MiB "
          "| RSS budget MiB |")
    print("|---|---|--:|--:|--:|--:|--:|--:|--:|")
    for repo, granularity in cases:
        out = work / "rows.json"
        seconds, cpu, peak_kib = scan(args.scanner, repo, granularity, out)
        rows_mb = out.stat().st_size / 1e6
        out.unlink()
        src_mib = source_bytes(repo) / (1 << 20)
        print(f"| {repo.name} | {granularity} | {src_mib:.2f} | {rows_mb:.1f} | {seconds:.2f} | {cpu:.2f} "
              f"| {rows_mb / seconds:.1f} | {peak_kib / 1024:.1f} | {1.5 * src_mib + 64:.1f} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
