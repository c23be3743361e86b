"""scan_repo through Python: argument checks, probes, a host-supplied resolver, row shape."""

import pathlib
import threading

import pytest

import quarrix_core.dependency_resolver as dr
import quarrix_core.ip_scanner as s

ENTRY_KEYS = ["name", "namespace", "source", "quarrix_compat", "description", "desc_source", "license",
              "dep_count", "vhdl_standard", "vendor_deps", "verified", "badges", "test_info", "tags", "role"]


def make_probes(calls=None, **overrides):
    calls = [] if calls is None else calls

    def rec(name, result):
        def probe(*args):
            calls.append((name, args))
            return result(*args) if callable(result) else result
        return probe

    fields = dict(
        detect_library_name=rec("library", "work"),
        detect_vhdl_standard=rec("standard", ("unknown", False)),
        detect_vendor_deps=rec("vendor", []),
        detect_test_infrastructure=rec("tests", {"cocotb": False}),
        compute_badges=rec("badges", lambda verified, info: ["lint"] if verified else []),
        verify_verilog=rec("verilog", True),
    )
    fields.update(overrides)
    return s.ScanProbes(**fields)


@pytest.fixture
def repo(tmp_path):
    (tmp_path / "hdl").mkdir()
    (tmp_path / "rtl").mkdir()
    (tmp_path / "hdl" / "leaf.v").write_text("module leaf; endmodule\n")
    (tmp_path / "rtl" / "top.v").write_text("// Packet router with four ports.\nmodule router; leaf l(); endmodule\n")
    (tmp_path / "rtl" / "ctl.vhd").write_text("entity ctl is end entity;\n")
    return tmp_path


def test_rows_through_our_resolver(repo):
    calls = []
    rows = s.scan_repo(repo, "acme", "https://x/acme.git", "v1", "c0ffee", make_probes(calls), use_llm=False,
                       granularity="all")
    assert [r["name"] for r in rows] == ["ctl", "leaf", "router"]
    router = rows[2]
    assert list(router) == ENTRY_KEYS + ["components", "license_class"]
    assert router["quarrix_compat"] == {"language": "verilog", "library": "work", "files": ["hdl/leaf.v", "rtl/top.v"]}
    assert router["description"] == "Packet router with four ports."
    assert router["desc_source"] == "header"
    assert router["components"] == ["leaf"] and rows[1]["role"] == "primitive"
    assert rows[0]["quarrix_compat"]["language"] == "vhdl-2008" and rows[0]["vhdl_standard"] == "unknown"
    assert rows[0]["badges"] == [] and router["badges"] == ["lint"]
    # Probes get paths; the two repository probes run once, first.
    assert [c[0] for c in calls[:2]] == ["library", "tests"]
    assert calls[0][1] == (pathlib.Path(repo),)
    assert all(isinstance(p, pathlib.Path) for name, args in calls if name == "vendor" for p in args[0])
    assert [r["name"] for r in s.scan_repo(str(repo), "acme", "u", "t", "c", make_probes(), False)] == ["ctl", "router"]


def test_host_resolver_is_looked_up_per_call(repo, monkeypatch):
    seen = {}

    class Scripted:
        def __init__(self, src_dirs, respect_gitignore=True, exclude_dirs=None):
            seen.update(src_dirs=src_dirs, respect_gitignore=respect_gitignore, exclude_dirs=exclude_dirs)
            self.entity_map = {"b_unit": repo / "rtl" / "b.v", "a_unit": str(repo / "rtl" / "a.v"),
                               "c_unit": repo / "rtl" / "c.v"}
            self.package_map = {"p": repo / "rtl" / "a.v"}

        def get_compilation_order(self, name):
            if name == "a_unit":
                raise KeyError(name)
            if name == "b_unit":
                raise RecursionError("cycle")
            return [repo / "rtl" / "a.v", repo / "rtl" / "c.v"]

        def unresolved_use_clauses(self):
            return [("vendorlib", "vpkg")]

    monkeypatch.setattr(dr, "DependencyResolver", Scripted)
    extra = ["hdl/altera_examples"]
    rows = s.scan_repo(repo, "ns", "u", "t", "c", make_probes(), use_llm=False, granularity="all", exclude_dirs=extra)
    assert seen["src_dirs"] == [repo / "hdl", repo / "rtl"]
    assert seen["respect_gitignore"] is False
    assert seen["exclude_dirs"] == s.DEFAULT_VENDOR_SIM_EXCLUDES + ["hdl/altera_examples"]
    assert extra == ["hdl/altera_examples"]
    by = {r["name"]: r for r in rows}
    assert by["a_unit"]["quarrix_compat"]["files"] == ["rtl/a.v"]
    assert by["b_unit"]["quarrix_compat"]["files"] == ["rtl/b.v"]
    assert by["c_unit"]["quarrix_compat"]["files"] == ["rtl/a.v", "rtl/c.v"]
    assert all(r["external_uses"] == [{"library": "vendorlib", "package": "vpkg"}] for r in rows)
    assert by["a_unit"]["provides_packages"] == ["p"] and "provides_packages" not in by["b_unit"]

    class Broken(Scripted):
        def get_compilation_order(self, name):
            raise ValueError("resolver bug")

    monkeypatch.setattr(dr, "DependencyResolver", Broken)
    with pytest.raises(ValueError, match="resolver bug"):
        s.scan_repo(repo, "ns", "u", "t", "c", make_probes(), use_llm=False)


def test_probe_failures_reach_the_host_unchanged(repo):
    boom = RuntimeError("ghdl exploded")

    def failing(files, library):
        raise boom

    with pytest.raises(RuntimeError) as info:
        s.scan_repo(repo, "ns", "u", "t", "c", make_probes(detect_vhdl_standard=failing), use_llm=False)
    assert info.value is boom
    with pytest.raises(TypeError, match="detect_test_infrastructure"):
        s.scan_repo(repo, "ns", "u", "t", "c", make_probes(detect_test_infrastructure=lambda r: object()))
    with pytest.raises(ValueError):
        s.scan_repo(repo, "ns", "u", "t", "c", make_probes(detect_vhdl_standard=lambda f, l: ("a", True, 3)))


def test_subproject_without_bucket_map_fails_before_any_work(repo):
    calls = []
    with pytest.raises(ValueError) as info:
        s.scan_repo(repo, "ns", "u", "t", "c", make_probes(calls), granularity="subproject")
    assert str(info.value) == ("granularity='subproject' requires a bucket_map kwarg (load the sidecar YAML "
                               "referenced from curated_repos.json[<url>].bucket_map)")
    assert calls == []


@pytest.mark.parametrize("args, kwargs", [
    ((), {}),
    (("r", 1, "u", "t", "c"), {}),
    (("r", "ns", None, "t", "c"), {}),
    (("r", "ns", "u", "t", b"c"), {}),
    (("r", "ns", "u", "t", "c"), {"granularity": None}),
    (("r", "ns", "u", "t", "c"), {"previous_descriptions": [("a", "b")]}),
    (("r", "ns", "u", "t", "c"), {"description_verdicts": "x"}),
    (("r", "ns", "u", "t", "c"), {"exclude_dirs": ("a",)}),
    (("r", "ns", "u", "t", "c"), {"bucket_map": []}),
    (("r", "ns", "u", "t", "c"), {"unknown_kw": 1}),
    ((3, "ns", "u", "t", "c"), {}),
])
def test_argument_types_are_checked_before_any_work(args, kwargs):
    calls = []
    full = args + (make_probes(calls),) if len(args) == 5 else args
    with pytest.raises(TypeError):
        s.scan_repo(*full, **kwargs)
    assert calls == []
    with pytest.raises(TypeError):
        s.scan_repo("r", "ns", "u", "t", "c", make_probes(), True, "top", None, None, None, None, "extra")


def test_scans_run_in_parallel_threads(repo):
    results, errors = [], []

    def work():
        try:
            results.append(len(s.scan_repo(repo, "ns", "u", "t", "c", make_probes(), use_llm=False, granularity="all")))
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(exc)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and results == [3, 3, 3, 3]


def test_compute_roles_and_declaration_kinds(tmp_path):
    entries = [
        {"name": "top", "quarrix_compat": {"files": ["a.v", "b.v", "t.v"]}, "dep_count": 3},
        {"name": "mid", "quarrix_compat": {"files": ["a.v", "b.v"]}, "dep_count": 2},
        {"name": "leaf", "quarrix_compat": {"files": ["a.v"]}},
        {"name": "lonely"},
    ]
    assert s.compute_roles(entries) == {"top": "top", "mid": "component", "leaf": "primitive", "lonely": "top"}
    assert s.compute_roles([]) == {}
    # Entries that say what they use: of a file of two units, the used one is depended on.
    two = [{"name": "pair_a", "quarrix_compat": {"files": ["two.v"]}},
           {"name": "pair_b", "quarrix_compat": {"files": ["two.v"]}}]
    user = {"name": "user", "quarrix_compat": {"files": ["two.v", "u.v"]}, "dep_count": 2}
    assert s.compute_roles(two + [{**user, "uses": ["pair_b"]}]) == \
        {"pair_a": "top", "pair_b": "primitive", "user": "top"}
    assert s.compute_roles(two + [user])["pair_a"] == "primitive"
    with pytest.raises(KeyError):
        s.compute_roles([{"quarrix_compat": {}}])
    (tmp_path / "f.sv").write_text("interface fifo_if; endinterface\nmodule fifo #(1) ();")
    (tmp_path / "e.vhd").write_text("ENTITY Fifo IS end;")
    assert s._classify_top_declaration("fifo_if", tmp_path / "f.sv") == "interface"
    assert s._classify_top_declaration("fifo", tmp_path / "f.sv") == "module"
    assert s._classify_top_declaration("fif", tmp_path / "f.sv") is None
    assert s._classify_top_declaration("fifo", tmp_path / "e.vhd") == "entity"
    assert s._classify_top_declaration("fifo", tmp_path / "missing.v") is None
    assert s._INSTALLABLE_KINDS == frozenset({"module", "entity"})
    p = make_probes()
    assert list(s.ScanProbes.__match_args__) == ["detect_library_name", "detect_vhdl_standard", "detect_vendor_deps",
                                                  "detect_test_infrastructure", "compute_badges", "verify_verilog"]
    with pytest.raises(AttributeError):
        p.extra_field = 1
    with pytest.raises(TypeError):
        s.ScanProbes(1, 2, 3, 4, 5)


def deep_list(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def test_self_referencing_and_deep_arguments_raise_value_error(repo):
    loop = {}
    loop["k"] = loop
    cases = [
        ("description_verdicts", {"description_verdicts": loop}),
        ("previous_descriptions", {"previous_descriptions": {"router": deep_list(40_000)}}),
        ("bucket_map", {"granularity": "subproject", "bucket_map": {"buckets": deep_list(40_000)}}),
    ]
    for name, kwargs in cases:
        with pytest.raises(ValueError, match=f"{name} is nested more than 512 levels"):
            s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False, **kwargs)
    with pytest.raises(ValueError, match="nested more than 512 levels"):
        s.scan_repo(repo, "acme", "", "", "", make_probes(detect_test_infrastructure=lambda r: {"x": deep_list(600)}),
                    use_llm=False)


def test_large_maps_are_taken_whole(repo):
    previous = {f"unit_{i}": f"Unit number {i}." for i in range(100_000)}
    previous["router"] = "Earlier text."
    verdicts = {f"acme/unit_{i}": {"verdict": "bad"} for i in range(100_000)}
    verdicts["acme/ctl"] = {"verdict": "good", "locked_text": "Locked control block."}
    rows = s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False, granularity="all",
                       previous_descriptions=previous, description_verdicts=verdicts)
    assert next(r for r in rows if r["name"] == "ctl")["description"] == "Locked control block."


def test_units_name_their_own_licence_whatever_the_repository_states(repo):
    (repo / "rtl" / "top.v").write_text("// SPDX-License-Identifier: SHL-0.51\n// Packet router.\nmodule router; leaf l(); endmodule\n")
    (repo / "rtl" / "ctl.vhd").write_text("-- SPDX-License-Identifier: MIT AND GPL-3.0-only\nentity ctl is end entity;\n")
    rows = {r["name"]: r for r in s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False, granularity="all")}
    assert (rows["router"]["license"], rows["router"]["license_class"]) == ("SHL-0.51", "weak-copyleft")
    assert (rows["ctl"]["license"], rows["ctl"]["license_class"]) == ("MIT AND GPL-3.0-only", "strong-copyleft")
    assert (rows["leaf"]["license"], rows["leaf"]["license_class"]) == ("", "unknown")
    [repo_row] = s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False, granularity="repo")
    assert repo_row["license"] == ""
    (repo / "LICENSE").write_text("MIT License\n")
    (repo / "rtl" / "gen.v").write_text("// This file contains confidential and proprietary information\n"
                                        "// of Xilinx, Inc.\nmodule fifo_gen; endmodule\n")
    rows = {r["name"]: r for r in s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False,
                                               granularity="all")}
    assert {name: r["license"] for name, r in rows.items()} == {
        "router": "SHL-0.51", "ctl": "MIT AND GPL-3.0-only", "leaf": "MIT", "fifo_gen": "LicenseRef-Proprietary"}
    assert rows["fifo_gen"]["license_class"] == "unknown"
    [repo_row] = s.scan_repo(repo, "acme", "", "", "", make_probes(), use_llm=False, granularity="repo")
    assert repo_row["license"] == "MIT"
