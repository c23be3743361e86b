#!/usr/bin/env python3
"""CPU time and peak RSS of two quarrix-scan builds, side by side, on the catalog repositories.

Brings every repository of bench/catalog/repos.tsv to its commit (as catalog_quality.py does)
and scans it with --granularity all, no language model and no HDL tool (PATH holds an empty
directory), once per build in turn, --repeat times. Each scan is its own child process, waited
for with os.wait4, so its user+sys CPU seconds and peak RSS are its own; the table shows the
least CPU time of the repeats (the run least disturbed by the rest of the machine) and the
highest peak RSS. --reference names a third build (the current main) whose rows must be
byte-identical to --scanner's; any difference is listed and the exit status is 1.

    python3 bench/core_cpu_bench.py --mirrors /work/.mirror --base OLD/quarrix-scan \\
        --scanner build/test/cli/quarrix-scan [--reference MAIN/quarrix-scan] [--repeat 3]
"""

import os
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import catalog_quality as cq  # noqa: E402

HDL_SUFFIXES = {".v", ".sv", ".vh", ".svh", ".vhd", ".vhdl"}


def scan_env(empty_bin, cache):
    """The environment of every scan: no tool on PATH, no provider key, a private cache."""
    env = {k: v for k, v in os.environ.items() if not k.endswith("_API_KEY")}
    env.update(PATH=str(empty_bin), XDG_CACHE_HOME=str(cache))
    return env


def run(binary, repo, dest, out, env):
    """(user+sys CPU seconds, peak RSS MiB, exit status) of one scan writing its rows to out."""
    argv = [binary, str(dest), "--granularity", "all", "--no-llm", "-q", "-o", str(out),
            "--namespace", repo["name"], "--url", repo["url"], "--commit", repo["commit"]]
    with open(os.devnull, "wb") as null:
        pid = os.posix_spawn(binary, argv, env, file_actions=[
            (os.POSIX_SPAWN_DUP2, null.fileno(), 1), (os.POSIX_SPAWN_DUP2, null.fileno(), 2)])
    _, status, usage = os.wait4(pid, 0)
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024, os.waitstatus_to_exitcode(status)


def hdl_mib(dest):
    total = 0
    for root, _, files in os.walk(dest):
        total += sum(os.path.getsize(os.path.join(root, f)) for f in files
                     if os.path.splitext(f)[1].lower() in HDL_SUFFIXES)
    return total / 2**20


def main():
    ap = cq.catalog_arguments(__doc__.splitlines()[0])
    ap.add_argument("--base", required=True, help="the build to compare with")
    ap.add_argument("--reference", help="a build whose rows --scanner must reproduce byte for byte")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    builds = {"base": args.base, "new": args.scanner}
    if args.reference:
        builds["ref"] = args.reference
    builds = {k: str(Path(v).resolve()) for k, v in builds.items()}
    scratch = Path(tempfile.mkdtemp(prefix="core-cpu-bench-"))
    (scratch / "bin").mkdir()
    env = scan_env(scratch / "bin", scratch / "cache")

    failed, table, differ = [], [], []
    for repo, dest in cq.checkouts(cq.selected_repos(args), args, failed):
        cpu = {k: [] for k in builds}
        rss = {k: 0.0 for k in builds}
        outs = {k: scratch / f"{repo['name']}.{k}.json" for k in builds}
        ok = True
        for i in range(args.repeat):
            # Alternate the order so that neither build always runs on a warm cache.
            order = list(builds) if i % 2 == 0 else list(reversed(builds))
            for k in order:
                seconds, mib, code = run(builds[k], repo, dest, outs[k], env)
                if code != 0:
                    failed.append((repo["name"], f"{k} exited {code}"))
                    ok = False
                    break
                cpu[k].append(seconds)
                rss[k] = max(rss[k], mib)
            if not ok:
                break
        if not ok:
            continue
        if "ref" in builds and outs["ref"].read_bytes() != outs["new"].read_bytes():
            differ.append(repo["name"])
        table.append((repo["name"], hdl_mib(dest), {k: min(v) for k, v in cpu.items()}, rss))

    ref = "ref" in builds
    head = "| repository | HDL MiB | base cpu s | new cpu s | new/base |"
    head += " ref cpu s |" if ref else ""
    head += " base RSS MiB | new RSS MiB |" + (" ref RSS MiB |" if ref else "")
    print(head)
    print("|" + "---|" + "--:|" * (head.count("|") - 2))
    tot = {k: 0.0 for k in builds}
    for name, mib, cpu, rss in table:
        for k in builds:
            tot[k] += cpu[k]
        line = f"| {name} | {mib:.2f} | {cpu['base']:.3f} | {cpu['new']:.3f} | "
        line += f"{cpu['new'] / cpu['base']:.2f} |" if cpu["base"] else "- |"
        line += f" {cpu['ref']:.3f} |" if ref else ""
        line += f" {rss['base']:.1f} | {rss['new']:.1f} |" + (f" {rss['ref']:.1f} |" if ref else "")
        print(line)
    mib = sum(t[1] for t in table)
    line = f"| **total** ({len(table)}) | {mib:.2f} | {tot['base']:.3f} | {tot['new']:.3f} | "
    line += f"{tot['new'] / tot['base']:.2f} |" if tot["base"] else "- |"
    line += f" {tot['ref']:.3f} |" if ref else ""
    peak = {k: max((t[3][k] for t in table), default=0.0) for k in builds}
    line += f" {peak['base']:.1f} | {peak['new']:.1f} |" + (f" {peak['ref']:.1f} |" if ref else "")
    print(line)
    print()
    print(f"{args.repeat} runs per build and repository; CPU = user + sys of the least of them, "
          "RSS = the highest.")
    if ref:
        print(f"rows byte-identical to the reference: {len(table) - len(differ)} of {len(table)}"
              + (f"; differ: {', '.join(differ)}" if differ else ""))
    for name, why in failed:
        print(f"- not measured: {name}: {why}")
    return 1 if differ or failed else 0


if __name__ == "__main__":
    sys.exit(main())
