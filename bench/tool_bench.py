#!/usr/bin/env python3
"""Tool verification figures of quarrix-scan on a generated repository.

Scans a repository of --units design units (bench/generate_repo.py) with GHDL,
Verilator and Icarus on PATH: without tools (--no-verify), cold with --jobs 1
and --jobs N, warm (every answer in the result cache), a copy of it at
another path (the cache holds no checkout path: every answer should hit),
and after touching one header, when only the checks that read it should run
again. Prints a Markdown
table; the figures in the README come from it.
"""

import argparse
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent


def scan(scanner, repo, cache, *args):
    start = time.monotonic()
    out = subprocess.run([scanner, repo, "--no-llm", "--cache-dir", cache, *args], capture_output=True, text=True,
                         check=True)
    seconds = time.monotonic() - start
    hits = re.search(r"(\d+) tool results? from the cache", out.stderr)
    return seconds, int(hits.group(1)) if hits else 0, out.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--units", type=int, default=500)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--scanner", default=shutil.which("quarrix-scan"))
    args = parser.parse_args()
    missing = [t for t in ("ghdl", "verilator", "iverilog") if not shutil.which(t)]
    if missing or not args.scanner:
        sys.exit(f"tool_bench: needs quarrix-scan and the HDL tools on PATH (missing: {missing or ['quarrix-scan']})")
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        repo = work / "repo"
        subprocess.run([sys.executable, HERE / "generate_repo.py", "--units", str(args.units), "--out", repo], check=True)
        checks = sum(1 for _ in json.loads(scan(args.scanner, repo, work / "c0", "--no-verify", "--granularity", "all")[2]))
        no_tools, _, _ = scan(args.scanner, repo, work / "c0", "--no-verify")
        cold1, _, rows1 = scan(args.scanner, repo, work / "c1", "--jobs", "1")
        coldn, _, rowsn = scan(args.scanner, repo, work / "c2", "--jobs", str(args.jobs))
        assert rows1 == rowsn, "rows differ between --jobs 1 and --jobs N"
        warm, warm_hits, rows_warm = scan(args.scanner, repo, work / "c2", "--jobs", str(args.jobs))
        assert rows_warm == rows1
        moved = work / "elsewhere" / "repo"
        shutil.copytree(repo, moved, symlinks=True)
        moved_s, moved_hits, rows_moved = scan(args.scanner, moved, work / "c2", "--jobs", str(args.jobs))
        assert rows_moved == rows1, "rows differ at another path"
        header = sorted(repo.rglob("*.vh"))[0]
        header.write_text(header.read_text() + "\n// touched\n")
        touched, touched_hits, _ = scan(args.scanner, repo, work / "c2", "--jobs", str(args.jobs))
        misses = warm_hits - touched_hits
    print(f"| {args.units} units ({checks} entities) | seconds |")
    print("|---|--:|")
    print(f"| no tools (`--no-verify`) | {no_tools:.2f} |")
    print(f"| cold, `--jobs 1` | {cold1:.2f} |")
    print(f"| cold, `--jobs {args.jobs}` | {coldn:.2f} ({coldn / cold1:.2f} x `--jobs 1`) |")
    print(f"| warm, every answer cached ({warm_hits} hits) | {warm:.2f} "
          f"(bound 1.5 x no tools + 1 s = {1.5 * no_tools + 1:.2f}) |")
    print(f"| the same repository at another path ({moved_hits} hits) | {moved_s:.2f} |")
    print(f"| after touching `{header.name}` ({touched_hits} hits, {misses} checks ran again) | {touched:.2f} |")


if __name__ == "__main__":
    main()
