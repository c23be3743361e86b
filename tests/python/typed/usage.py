"""A host's typed use of quarrix_core.

scripts/test-all.sh checks this file with mypy --strict against the installed
stubs, and test_typing.py runs it, so that what the stubs promise and what the
binding accepts are checked on the same calls.
"""

from __future__ import annotations

from pathlib import Path
from typing import Any

from quarrix_core import ip_scanner, probes
from quarrix_core.dependency_resolver import DependencyResolver
from quarrix_core.description_validator import is_suspect


def compile_order(repo: Path, unit: str) -> list[str]:
    resolver = DependencyResolver([repo], respect_gitignore=True, exclude_dirs=["sim"])
    units: dict[str, str] = resolver.entity_map
    unresolved: list[tuple[str, str]] = resolver.unresolved_use_clauses()
    assert unit in units and not unresolved
    return resolver.get_compilation_order(unit)


def own_probes() -> ip_scanner.ScanProbes:
    """The built-in probes, one replaced by a host function."""

    def library_name(root: Path) -> str:
        return probes.detect_library_name(root)

    return ip_scanner.ScanProbes(
        detect_library_name=library_name,
        detect_vhdl_standard=lambda files, library: ("unknown", False),
        detect_vendor_deps=probes.detect_vendor_deps,
        detect_test_infrastructure=probes.detect_test_infrastructure,
        compute_badges=probes.compute_badges,
        verify_verilog=lambda files: False,
    )


def scan(repo: Path, scan_probes: ip_scanner.ScanProbes) -> list[dict[str, Any]]:
    verdicts: dict[str, Any] = ip_scanner.load_description_verdicts(repo / "index")
    return ip_scanner.scan_repo(repo, "acme", "https://example.org/acme.git", "v1", "c0ffee", scan_probes,
                                use_llm=False, granularity="all", description_verdicts=verdicts,
                                exclude_dirs=["sim"])


def catalog_checks(rows: list[dict[str, Any]], repo: Path) -> dict[str, object]:
    """What a host asks of single rows and names."""
    roles: dict[str, str] = ip_scanner.compute_roles(rows)
    name: str = rows[0]["name"]
    own_file: str = rows[0]["quarrix_compat"]["files"][-1]
    description, source = ip_scanner.generate_description(name, repo / own_file, "acme", "verilog", use_llm=False)
    tags: list[str] = ip_scanner.generate_tags(name, repo, [], ["unisim"], str(repo))
    locked: str | None = ip_scanner.verdict_locked_text(None, "acme", name)
    return {
        "roles": roles,
        "description": (description, source),
        "suspect": is_suspect(description, name=name, namespace="acme"),
        "tags": tags,
        "locked": locked,
        "license": ip_scanner.classify_license("MIT"),
        "sim_only": ip_scanner.is_simulation_only_name(name + "_tb"),
        "summary": ip_scanner.format_llm_summary(ip_scanner.get_llm_stats()),
    }


def host_session(repo: Path) -> dict[str, object]:
    """One repository through the calls above: built-in probes, then a host's own."""
    rows = scan(repo, probes.default_probes(verify=False, cache=False))
    return {
        "order": compile_order(repo, "router"),
        "rows": rows,
        "own_rows": scan(repo, own_probes()),
        **catalog_checks(rows, repo),
    }
