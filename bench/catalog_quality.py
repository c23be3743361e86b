#!/usr/bin/env python3
"""How often quarrix-scan gives a catalog row the licence its files state.

Brings every repository of bench/catalog/repos.tsv at its commit, scans it
with --granularity all, and compares each row's "license" with
bench/catalog/truth.tsv: the line for the row's own file when there is one,
else the repository's "*" line. Prints a Markdown table; always exits 0.

    python3 bench/catalog_quality.py --mirrors /work/.mirror \\
        --scanner build/test/cli/quarrix-scan [--details] [--only NAME]
"""

import argparse
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CATALOG = Path(__file__).resolve().parent / "catalog"
MARK = ".catalog-commit"


def read_tsv(path):
    with open(path, newline="", encoding="utf-8") as f:
        lines = [l for l in f if l.strip() and not l.startswith("#")]
    return list(csv.DictReader(lines, delimiter="\t", quoting=csv.QUOTE_NONE))


def owner_name(url):
    parts = url.rstrip("/").removesuffix(".git").split("/")
    return parts[-2], parts[-1]


def mirror_dir(mirrors, url):
    owner, name = owner_name(url)
    base = Path(mirrors) / f"{owner}+{name}"
    # A bare directory, or the .git of a checkout (fetch gives either).
    for cand in (base / "repo", base / "repo" / ".git", base, base / ".git"):
        if (cand / "objects").is_dir():
            return cand
    return None


def extract(git_dir, commit, dest):
    """Writes the tree of commit into dest, blob by blob: a mirror may lack
    its largest files, which would make `git archive` stop half way."""
    tree = subprocess.run(
        ["git", f"--git-dir={git_dir}", "ls-tree", "-r", "-z", commit],
        check=True, capture_output=True).stdout
    entries = []
    for item in tree.split(b"\0"):
        if not item:
            continue
        meta, path = item.split(b"\t", 1)
        mode, kind, sha = meta.split()
        # Symlinks could point out of the checkout; submodules are not there.
        name = os.fsdecode(path)
        if kind == b"blob" and mode != b"120000" and ".." not in name.split("/"):
            entries.append((sha.decode(), name))
    missing = 0
    cat = subprocess.Popen(["git", f"--git-dir={git_dir}", "cat-file", "--batch"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    for sha, path in entries:
        cat.stdin.write(sha.encode() + b"\n")
        cat.stdin.flush()
        header = cat.stdout.readline().split()
        if len(header) < 3:
            missing += 1
            continue
        data = cat.stdout.read(int(header[2]))
        cat.stdout.read(1)
        target = dest / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    cat.stdin.close()
    cat.wait()
    return missing


def checkout(repo, work, mirrors):
    dest = Path(work) / repo["name"]
    mark = dest / MARK
    if mark.is_file() and mark.read_text().strip() == repo["commit"]:
        return dest
    if dest.exists():
        shutil.rmtree(dest)
    git_dir = mirror_dir(mirrors, repo["url"]) if mirrors else None
    if git_dir is not None:
        dest.mkdir(parents=True)
        missing = extract(git_dir, repo["commit"], dest)
        if missing:
            print(f"note: {repo['name']}: {missing} files absent from the mirror",
                  file=sys.stderr)
    else:
        subprocess.run(["git", "clone", "-q", repo["url"], str(dest)], check=True)
        subprocess.run(["git", "-C", str(dest), "checkout", "-q", repo["commit"]],
                       check=True)
    mark.write_text(repo["commit"] + "\n")
    return dest


def checkouts(repos, args, failed):
    """(repository, checkout) for each repository brought to its commit; the others go to `failed`."""
    for repo in repos:
        try:
            yield repo, checkout(repo, args.work, args.mirrors)
        except (subprocess.CalledProcessError, OSError) as exc:
            failed.append((repo["name"], f"checkout: {exc}"))


def norm(lic):
    # SPDX identifiers match case-insensitively.
    return " ".join((lic or "").split()).lower()


def scan(scanner, repo, dest, work):
    report = Path(work) / f"{repo['name']}.report.json"
    cmd = [scanner, str(dest), "--granularity", "all", "--no-llm", "--no-verify",
           "-q", "--report", str(report), "--namespace", repo["name"],
           "--url", repo["url"], "--commit", repo["commit"]]
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True)
    except OSError as exc:
        return None, [str(exc)]
    if proc.returncode != 0:
        return None, proc.stderr.strip().splitlines()[-1:] or [f"exit {proc.returncode}"]
    try:
        return json.loads(proc.stdout or "[]"), None
    except json.JSONDecodeError as exc:
        return None, [f"unreadable rows: {exc}"]


def catalog_arguments(description):
    """The options every catalog benchmark takes: scanner, work directory, mirrors, catalog, --only."""
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument("--scanner", default=shutil.which("quarrix-scan") or "quarrix-scan")
    ap.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "quarrix-catalog"))
    ap.add_argument("--mirrors", help="directory of owner+name git dirs")
    ap.add_argument("--catalog", default=str(CATALOG))
    ap.add_argument("--only", action="append", help="repository name (repeatable)")
    return ap


def selected_repos(args):
    """The catalog's repositories that --only keeps, with the work directory made."""
    repos = read_tsv(Path(args.catalog) / "repos.tsv")
    os.makedirs(args.work, exist_ok=True)
    return [r for r in repos if not args.only or r["name"] in args.only]


def main():
    ap = catalog_arguments(__doc__.splitlines()[0])
    ap.add_argument("--details", action="store_true",
                    help="list every wrong or missing row")
    args = ap.parse_args()

    repos = selected_repos(args)
    truth_rows = read_tsv(Path(args.catalog) / "truth.tsv")
    repo_truth = {t["repo"]: t["license"] or "" for t in truth_rows if t["path"] == "*"}
    file_truth = {(t["repo"], t["path"]): t["license"] or ""
                  for t in truth_rows if t["path"] != "*"}

    table, details, failed = [], [], []
    total = {"rows": 0, "right": 0, "missing": 0, "wrong": 0}
    failed += [(r["name"], "no '*' line in truth.tsv") for r in repos if r["name"] not in repo_truth]
    for repo, dest in checkouts([r for r in repos if r["name"] in repo_truth], args, failed):
        name = repo["name"]
        rows, err = scan(args.scanner, repo, dest, args.work)
        if rows is None:
            failed.append((name, f"scan: {' '.join(err)}"))
            continue
        count = {"rows": 0, "right": 0, "missing": 0, "wrong": 0}
        for row in rows:
            files = (row.get("quarrix_compat") or {}).get("files") or [""]
            path = files[-1]
            want = file_truth.get((name, path), repo_truth[name])
            got = row.get("license") or ""
            count["rows"] += 1
            if norm(got) == norm(want):
                count["right"] += 1
                continue
            verdict = "missing" if not got else "wrong"
            count[verdict] += 1
            details.append((name, row.get("name", ""), path, got, want, verdict))
        for k in total:
            total[k] += count[k]
        table.append((name, repo.get("kind", ""), count))

    def pct(n, d):
        return f"{100.0 * n / d:.1f}%" if d else "-"

    print("| repository | kind | rows | right | missing | wrong | right % |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: |")
    for name, kind, c in table:
        print(f"| {name} | {kind} | {c['rows']} | {c['right']} | {c['missing']} "
              f"| {c['wrong']} | {pct(c['right'], c['rows'])} |")
    t = total
    print(f"| **total** ({len(table)} repositories) | | {t['rows']} | {t['right']} "
          f"| {t['missing']} | {t['wrong']} | {pct(t['right'], t['rows'])} |")
    print()
    print(f"right {pct(t['right'], t['rows'])}, missing {pct(t['missing'], t['rows'])}, "
          f"wrong {pct(t['wrong'], t['rows'])} of {t['rows']} rows")
    for name, why in failed:
        print(f"- not measured: {name}: {why}")
    if args.details and details:
        print()
        print("| repository | unit | file | got | truth | verdict |")
        print("| --- | --- | --- | --- | --- | --- |")
        for name, unit, path, got, want, verdict in details:
            print(f"| {name} | {unit} | {path} | `{got}` | `{want}` | {verdict} |")
    return 0


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
    sys.exit(0)
