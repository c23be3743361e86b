#!/usr/bin/env python3
"""Tool verification of quarrix-scan's tops on the catalog repositories.

Scans each repository of bench/catalog/repos.tsv (as catalog_quality.py
brings them) with GHDL, Verilator and Icarus on PATH, `--granularity top
--jobs 2 --no-llm` and a fresh cache, and prints per repository: tops,
verified tops, unverified tops whose failures are all the repository's own
(a vendor primitive, an include that no file of the repository holds, a unit,
package or library that none declares, whether the scan read that file or
not; a GHDL run asking for -fsynopsys, which the scanner's
next run answers, is none; nor, once a run has failed for the repository's
own reason, is a later one that rejects the source: Icarus after Verilator,
VHDL-93 or -frelaxed after VHDL-2008, a fallback that did not get as far),
the other ("avoidable") unverified tops and, under "strict", those counting
every run, the failed runs by cause and the scan's seconds. Always exits 0.

With --with-dependencies, a repository is scanned with the catalog
repositories it declares (Bender.yml, .gitmodules, as quarrix-batch reads
them) and theirs in turn, each `--with` its checkout, as a registry that
holds them scans it. With --warm, each scan is timed again on its warm
cache and once without tools (`--no-verify`), and the table says whether the
warm scan stayed within 1.5 x the scan without tools + 1 s.

    python3 bench/catalog_verify.py --mirrors /work/.mirror \\
        --scanner build/test/cli/quarrix-scan [--only NAME] [--keep DIR] [--with-dependencies] [--warm]
"""

import collections
import json
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import catalog_quality as cq  # noqa: E402

CAUSES = ["missing unit", "missing include", "missing package", "vendor primitive", "tool limitation", "syntax",
          "budget", "timeout", "memory"]


HDL_SUFFIXES = (".v", ".sv", ".vh", ".svh", ".vhd", ".vhdl")
VERILOG_DECLARATION = re.compile(
    r"^\s*(?:module|macromodule|interface|program|package|primitive|class)\s+(?:(?:automatic|static)\s+)?"
    r"([A-Za-z_]\w*)", re.M)
VHDL_DECLARATION = re.compile(r"^\s*(?:entity|package)\s+([A-Za-z]\w*)\s+is\b", re.M | re.I)


class Holdings:
    """What the files of checkouts hold, whether the scan saw them or not: the design units and packages
    their HDL files declare (lower-cased), the directories with VHDL files (a library by its name), and
    every file's path, so that a cause the report counts as the repository's own is checked against the
    repository itself (a package in lib/ beside the rtl/ the scan reads is no file the repository lacks)."""

    def __init__(self, checkouts):
        self.names, self.libraries, self.paths = set(), set(), []
        for root in checkouts:
            for path in Path(root).rglob("*"):
                if ".git" in path.parts or not path.is_file():
                    continue
                self.paths.append(path.relative_to(root).as_posix())
                suffix = path.suffix.lower()
                if suffix not in HDL_SUFFIXES:
                    continue
                text = path.read_text(encoding="utf-8", errors="replace")
                vhdl = suffix in (".vhd", ".vhdl")
                self.names.update(m.lower() for m in (VHDL_DECLARATION if vhdl else VERILOG_DECLARATION).findall(text))
                if vhdl:
                    self.libraries.add(path.parent.name.lower())

    def holds(self, cause):
        name = cause.get("name", "")
        if not name:
            return False
        if cause["kind"] == "missing include":
            return any(p == name or p.endswith("/" + name) for p in self.paths)
        return name.lower() in self.names or (cause["kind"] == "missing package" and name.lower() in self.libraries)


def repository_own(cause, holdings=None):
    kind = cause["kind"]
    if kind == "vendor primitive":
        return True
    if kind not in ("missing include", "missing unit", "missing package") or cause.get("declared"):
        return False
    return holdings is None or not holdings.holds(cause)


def answered_runs(runs):
    """The runs that tell why a check failed: a GHDL run saying a source needs -fsynopsys is answered by the
    scanner's own retry with it (the next run), so that run is no failure of the unit."""
    return [run for i, run in enumerate(runs)
            if not ("needs the -fsynopsys option" in run.get("first_error", "") and i + 1 < len(runs))]


def telling(causes, holdings=None):
    """`causes` less the rejections of the source after a run that failed for the repository's own reason."""
    out, own_seen = [], False
    for cause in causes:
        if own_seen and cause["kind"] in ("syntax", "tool limitation"):
            continue
        own_seen = own_seen or repository_own(cause, holdings)
        out.append(cause)
    return out


def measure(rows, report, holdings=None):
    units = {u["name"]: u for u in report["units"]}
    tops = [r for r in rows if r["role"] == "top"]
    out = collections.Counter(tops=len(tops), verified=sum(r["verified"] is True for r in tops))
    for row in tops:
        runs = units.get(row["name"], {}).get("tool_runs", [])
        out.update(run["cause"]["kind"] for run in runs if run.get("cause"))
        failed = [run["cause"] for run in answered_runs(runs) if run.get("cause")]
        if row["verified"] is True or not failed:
            continue
        out["own" if all(repository_own(c, holdings) for c in telling(failed, holdings)) else "avoidable"] += 1
        out["strict"] += not all(repository_own(c, holdings) for c in failed)
    return out


def with_options(repo, catalog, work):
    """`--with CHECKOUT=NAME` for each catalog repository `repo` declares, and theirs, nearest first."""
    from quarrix_core.batch.declared import declared_dependencies
    from quarrix_core.batch.manifest import url_match_key

    by_key = {url_match_key(r["url"]): r for r in catalog}
    out, seen, level = [], {repo["name"]}, [repo]
    while level:
        below = []
        for r in level:
            for dep in declared_dependencies(str(Path(work) / r["name"]), origin=r["url"]):
                found = by_key.get(url_match_key(dep.url))
                if found is not None and found["name"] not in seen:
                    seen.add(found["name"])
                    out += ["--with", f"{Path(work) / found['name']}={found['name']}"]
                    below.append(found)
        level = below
    return out


def timed(argv):
    """The finished process of `argv` and its wall seconds."""
    start = time.monotonic()
    proc = subprocess.run(argv, capture_output=True, text=True)
    return proc, time.monotonic() - start


def main():
    ap = cq.catalog_arguments(__doc__.splitlines()[0])
    ap.add_argument("--keep", type=Path, help="write each repository's rows and report into this directory")
    ap.add_argument("--with-dependencies", action="store_true",
                    help="scan each repository with the catalog repositories it declares, and theirs")
    ap.add_argument("--warm", action="store_true", help="time each scan again warm, and once without tools")
    args = ap.parse_args()
    missing = [t for t in ("ghdl", "verilator", "iverilog") if not shutil.which(t)]
    if missing:
        print(f"note: not on PATH: {', '.join(missing)}", file=sys.stderr)

    repos = cq.selected_repos(args)
    catalog = []
    if args.with_dependencies:
        # Every repository a selected one may declare is brought to its commit first.
        catalog = cq.read_tsv(Path(args.catalog) / "repos.tsv")
        list(cq.checkouts(catalog, args, []))

    warm_head = " warm s | no tools s | warm within |" if args.warm else ""
    print("| repository | tops | verified | own | avoidable | strict | " + " | ".join(CAUSES) + " | s |" + warm_head)
    print("| --- | ---: | ---: | ---: | ---: | ---: | " + "---: | " * len(CAUSES) + "---: |"
          + " ---: | ---: | --- |" * args.warm)
    total, seconds, failed = collections.Counter(), 0.0, []
    warm_total, plain_total, within, measured = 0.0, 0.0, 0, 0
    for repo, dest in cq.checkouts(repos, args, failed):
        with tempfile.TemporaryDirectory() as cache:
            report = Path(cache) / "report.json"
            deps = with_options(repo, catalog, args.work) if args.with_dependencies else []
            argv = [args.scanner, str(dest), "--granularity", "top", "--jobs", "2", "--no-llm", "-q",
                    "--cache-dir", cache, "--report", str(report), *deps]
            proc, spent = timed(argv)
            if proc.returncode != 0:
                failed.append((repo["name"], proc.stderr.strip().splitlines()[-1:] or [f"exit {proc.returncode}"]))
                continue
            holdings = Holdings([dest, *(d.rsplit("=", 1)[0] for d in deps[1::2])])
            got = measure(json.loads(proc.stdout or "[]"), json.loads(report.read_text()), holdings)
            if args.keep:
                args.keep.mkdir(parents=True, exist_ok=True)
                (args.keep / f"{repo['name']}.rows.json").write_text(proc.stdout)
                shutil.copyfile(report, args.keep / f"{repo['name']}.report.json")
            warm_cells = ""
            if args.warm:
                warm, plain = timed(argv)[1], timed([*argv, "--no-verify"])[1]
                warm_total, plain_total = warm_total + warm, plain_total + plain
                ok = warm <= 1.5 * plain + 1.0
                within += ok
                warm_cells = f" {warm:.2f} | {plain:.2f} | {'yes' if ok else 'no'} |"
        total.update(got)
        seconds += spent
        measured += 1
        pct = f" ({100 * got['verified'] / got['tops']:.0f} %)" if got["tops"] else ""
        name = repo["name"] + "".join(f" +{d.rsplit('=', 1)[1]}" for d in deps[1::2])
        print(f"| {name} | {got['tops']} | {got['verified']}{pct} | {got['own']} | {got['avoidable']} | {got['strict']} | "
              + " | ".join(str(got[c]) for c in CAUSES) + f" | {spent:.1f} |" + warm_cells)
    pct = f" ({100 * total['verified'] / total['tops']:.0f} %)" if total["tops"] else ""
    avoid = f" ({100 * total['avoidable'] / total['tops']:.0f} %)" if total["tops"] else ""
    print(f"| **total** | {total['tops']} | {total['verified']}{pct} | {total['own']} | {total['avoidable']}{avoid} | {total['strict']} | "
          + " | ".join(str(total[c]) for c in CAUSES) + f" | {seconds:.1f} |"
          + (f" {warm_total:.1f} | {plain_total:.1f} | {within} of {measured} |" if args.warm else ""))
    for name, why in failed:
        print(f"- not measured: {name}: {why}")


if __name__ == "__main__":
    main()
