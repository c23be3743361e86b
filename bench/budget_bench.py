#!/usr/bin/env python3
"""Does --tool-budget bound the whole scan? One file of --modules independent modules: every unit
asks the same check, which runs once; every other unit's answer must cost microseconds, so that a
scan ends within the budget + the scan without tools + 5 s. Prints a Markdown table."""

import argparse
import pathlib
import shutil
import subprocess
import tempfile
import time


def seconds(argv):
    start = time.monotonic()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--modules", type=int, default=5000)
    parser.add_argument("--budget", type=int, default=10)
    parser.add_argument("--scanner", default=shutil.which("quarrix-scan"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        repo = pathlib.Path(tmp) / "repo"
        (repo / "rtl").mkdir(parents=True)
        with open(repo / "rtl" / "cells.v", "w") as f:
            for i in range(args.modules):
                f.write(f"module cell_{i:05}(input a, output y); assign y = a; endmodule\n")
        base = [args.scanner, str(repo), "-q", "--no-llm", "--granularity", "all", "--no-cache"]
        no_tools = seconds([*base, "--no-verify"])
        bound = args.budget + no_tools + 5
        print(f"| {args.modules} modules in one file | seconds | within {bound:.1f} s |\n|---|--:|---|")
        print(f"| no tools (`--no-verify`) | {no_tools:.2f} | |")
        for jobs in (1, 2):
            took = seconds([*base, "--tool-budget", str(args.budget), "--jobs", str(jobs)])
            print(f"| `--tool-budget {args.budget} --jobs {jobs}` | {took:.2f} | {'yes' if took <= bound else 'NO'} |")


if __name__ == "__main__":
    main()
