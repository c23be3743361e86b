#!/usr/bin/env python3
"""Units, roles and descriptions of quarrix-scan on the catalog repositories.

Scans every repository of bench/catalog/repos.tsv (as catalog_quality.py
brings them) with --granularity all and prints, per repository and in total:
rows, tops, tops that another row instantiates ("false tops", decided here
without the scanner's resolver: pyslang's syntax tree for Verilog and
SystemVerilog, instantiation patterns for VHDL), units left out by reason and
description sources. Always exits 0.

    python3 bench/catalog_units.py --mirrors /work/.mirror \\
        --scanner build/test/cli/quarrix-scan [--only NAME] [--sample FILE]

--sample FILE writes a seeded random sample of descriptions (TSV) to judge by hand.
"""

import collections
import json
import random
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import catalog_quality as cq  # noqa: E402

VHDL_COMMENT = re.compile(r"--[^\n]*")
VHDL_ARCH = re.compile(r"\barchitecture\s+\w+\s+of\s+(\w+)\s+is\b", re.I)
VHDL_USES = [
    re.compile(r"\bentity\s+\w+\s*\.\s*(\w+)", re.I),                        # entity work.x
    re.compile(r":\s*(?:component\s+)?(\w+)\s+(?:generic|port)\s+map\b", re.I),  # u : x port map
    re.compile(r"\bfor\s+[\w,\s]+:\s*(\w+)\s+use\b", re.I),                   # configuration
]


def verilog_uses(path):
    """module name -> names it instantiates, from the file's syntax tree."""
    from pyslang import syntax
    try:
        tree = syntax.SyntaxTree.fromText(path.read_text(encoding="utf-8", errors="replace"))
    except Exception:  # a file pyslang cannot take is measured as using nothing
        return {}
    kinds = {syntax.SyntaxKind.ModuleDeclaration, syntax.SyntaxKind.InterfaceDeclaration,
             syntax.SyntaxKind.ProgramDeclaration}
    out = {}
    for member in getattr(tree.root, "members", []):
        if member.kind not in kinds:
            continue
        used = set()

        def visit(node, used=used):
            if node.kind == syntax.SyntaxKind.HierarchyInstantiation:
                used.add(node.type.valueText.lower())
        member.visit(visit)
        out[member.header.name.valueText.lower()] = used
    return out


def vhdl_uses(path):
    """entity name -> names its architectures instantiate."""
    text = VHDL_COMMENT.sub("", path.read_text(encoding="utf-8", errors="replace"))
    out = collections.defaultdict(set)
    arches = list(VHDL_ARCH.finditer(text))
    for i, arch in enumerate(arches):
        body = text[arch.end():arches[i + 1].start() if i + 1 < len(arches) else len(text)]
        for pattern in VHDL_USES:
            out[arch.group(1).lower()].update(m.group(1).lower() for m in pattern.finditer(body))
    return out


def false_tops(rows, root):
    """Names of top rows that another row instantiates."""
    by_file = {}
    uses = collections.defaultdict(set)
    for row in rows:
        files = (row.get("quarrix_compat") or {}).get("files") or []
        if not files:
            continue
        own = files[-1]
        if own not in by_file:
            path = root / own
            suffix = path.suffix.lower()
            by_file[own] = vhdl_uses(path) if suffix in (".vhd", ".vhdl") else verilog_uses(path)
        name = row["name"].lower()
        uses[name] |= by_file[own].get(name, set())
    used_by_other = set()
    for user, used in uses.items():
        used_by_other |= used - {user}
    return [r["name"] for r in rows if r.get("role") == "top" and r["name"].lower() in used_by_other]


def left_out_reasons(report_path):
    try:
        report = json.loads(Path(report_path).read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return collections.Counter()
    reasons = collections.Counter()
    for unit in report.get("units", []):
        if not unit.get("kept") and unit.get("skipped_by"):
            reasons[re.sub(r"'.*", "", unit["skipped_by"]).strip()] += 1
    for item in report.get("left_out", []):
        reasons[re.sub(r"\bpattern \S+", "pattern", item.get("reason", "?"))] += 1
    return reasons


def main():
    ap = cq.catalog_arguments(__doc__.splitlines()[0])
    ap.add_argument("--sample", help="write a random sample of descriptions to this TSV")
    ap.add_argument("--sample-size", type=int, default=120)
    ap.add_argument("--list-false-tops", action="store_true")
    args = ap.parse_args()

    repos = cq.selected_repos(args)

    print("| repository | rows | tops | false tops | left out | description sources |")
    print("| --- | ---: | ---: | ---: | --- | --- |")
    total = collections.Counter()
    reasons_total, sources_total = collections.Counter(), collections.Counter()
    described, failed, listed = [], [], []
    for repo, dest in cq.checkouts(repos, args, failed):
        rows, err = cq.scan(args.scanner, repo, dest, args.work)
        if rows is None:
            failed.append((repo["name"], f"scan: {' '.join(err)}"))
            continue
        wrong = false_tops(rows, dest)
        listed += [(repo["name"], name) for name in wrong]
        reasons = left_out_reasons(Path(args.work) / f"{repo['name']}.report.json")
        sources = collections.Counter(r.get("desc_source", "") for r in rows)
        tops = sum(r.get("role") == "top" for r in rows)
        total.update(rows=len(rows), tops=tops, false_tops=len(wrong))
        reasons_total.update(reasons)
        sources_total.update(sources)
        described += [(repo["name"], r["name"], r.get("desc_source", ""), r.get("description", "")) for r in rows]
        print(f"| {repo['name']} | {len(rows)} | {tops} | {len(wrong)} | {sum(reasons.values())} "
              f"| {', '.join(f'{k} {v}' for k, v in sources.most_common())} |")
    print(f"| **total** | {total['rows']} | {total['tops']} | {total['false_tops']} | {sum(reasons_total.values())} "
          f"| {', '.join(f'{k} {v}' for k, v in sources_total.most_common())} |")
    print()
    print("left out, by reason:")
    for reason, n in reasons_total.most_common():
        print(f"- {reason}: {n}")
    for name, why in failed:
        print(f"- not measured: {name}: {why}")
    if args.list_false_tops:
        for repo_name, unit in listed:
            print(f"false top: {repo_name}/{unit}")
    if args.sample:
        rng = random.Random(20261209)
        sample = rng.sample(described, min(args.sample_size, len(described)))
        with open(args.sample, "w", encoding="utf-8") as f:
            f.write("repo\tunit\tsource\tdescription\tjudgement\n")
            for row in sample:
                f.write("\t".join(" ".join(str(v).split()) for v in row) + "\t\n")


if __name__ == "__main__":
    main()
