"""Prints the licence and the search tags of each HDL file of a repository."""

import json
import pathlib
import sys

import quarrix_core.ip_scanner as s

repo = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "examples/demo_repo")
license_id = s._detect_license(repo)
rows = []
for path in sorted(repo.rglob("*")):
    if path.suffix.lower() in {".v", ".sv", ".vhd", ".vhdl"}:
        rows.append({
            "file": str(path.relative_to(repo)),
            "simulation_only": s.is_simulation_only_name(path.stem),
            "tags": s.generate_tags(path.stem, path, [], [], repo),
        })
print(json.dumps({"license": license_id, "license_class": s.classify_license(license_id), "files": rows}, indent=2))
