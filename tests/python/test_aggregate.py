"""Aggregated rows, define carriers, vendor variants and port/README tags as the host sees them."""

import pathlib

import pytest

from quarrix_core import ip_scanner as s

ROW_KEYS = [
    "name", "namespace", "source", "quarrix_compat", "description", "desc_source", "license", "dep_count",
    "vhdl_standard", "vendor_deps", "verified", "badges", "test_info", "tags", "role", "top_modules",
    "components", "total_entities", "license_class",
]


def entry(name, files, language="verilog", tags=(), description="", desc_source="header", **extra):
    row = {
        "name": name, "namespace": "acme",
        "source": {"type": "git", "url": "u", "tag": "t", "ip_yml_path": "."},
        "quarrix_compat": {"language": language, "library": "work", "files": list(files)},
        "description": description, "desc_source": desc_source, "license": "", "dep_count": len(files),
        "vhdl_standard": language, "vendor_deps": [], "verified": False, "badges": [], "test_info": {},
        "tags": list(tags),
    }
    row.update(extra)
    return row


@pytest.fixture
def repo(tmp_path):
    files = {
        "LICENSE": "MIT License\n",
        "README.md": "# cores\n\nSmall FIFO and PLL cores\nfor FPGA designs.\n",
        "rtl/fifo.v": "module fifo; wire [`W:0] w; endmodule\n",
        "rtl/defs.vh": "`define W 8\n",
        "rtl/pll_xilinx.v": "module pll; endmodule\n",
        "rtl/pll_intel.v": "module pll; endmodule\n",
    }
    for rel, text in files.items():
        (tmp_path / rel).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / rel).write_text(text)
    return tmp_path


def test_names_are_exposed():
    assert s._DEFINE_RE == r"^\s*`define\s"
    assert s._TOP_DECL_RE == r"^\s*(?:module|interface|package|class|primitive|program)\b"
    assert s._TECH_DIR_RE == r"(?:^|/)TECH/([a-z][a-z0-9_-]*)/"
    assert len(s._VENDOR_TOKENS) == 14 and s._VENDOR_TOKENS["actel"] == "microchip"


def test_repo_row(repo, monkeypatch):
    monkeypatch.delenv("QUARRIX_TAG_CAP", raising=False)
    entries = [
        entry("fifo", ["rtl/pll_xilinx.v", "rtl/defs.vh", "rtl/fifo.v"], tags=["fifo"], provides_packages=["p"]),
        entry("pll", ["rtl/pll_xilinx.v"], tags=["clock"]),
    ]
    rows = s._aggregate_repo_entry(entries, {"fifo": "top", "pll": "primitive"}, repo, "acme",
                                   "https://h/acme/cores.git", "v1")
    assert len(rows) == 1
    row = rows[0]
    assert list(row) == ROW_KEYS + ["provides_packages", "hdl"]
    assert list(row["quarrix_compat"]) == ["language", "library", "files"]
    assert row["name"] == "cores"
    assert row["quarrix_compat"]["files"] == ["rtl/defs.vh", "rtl/fifo.v"]
    assert row["dep_count"] == 2
    assert row["hdl"] == {"vendor_variants": {"intel": ["rtl/pll_intel.v"], "xilinx": ["rtl/pll_xilinx.v"]}}
    assert (row["description"], row["desc_source"]) == ("Small FIFO and PLL cores for FPGA designs.", "readme")
    assert (row["license"], row["license_class"]) == ("MIT", "permissive")
    assert (row["top_modules"], row["components"], row["total_entities"]) == (["fifo"], ["pll"], 2)
    assert row["tags"] == ["clock", "fifo"]
    assert s._aggregate_repo_entry([], {}, str(repo), "acme", "u", "t") == []


def test_verdict_wins_over_readme(repo):
    verdicts = {"acme/cores": {"verdict": "good", "locked_text": "Locked."}}
    row = s._aggregate_repo_entry([entry("fifo", ["rtl/fifo.v"])], {"fifo": "top"}, repo, "acme",
                                  "https://h/acme/cores", "v1", description_verdicts=verdicts)[0]
    assert (row["description"], row["desc_source"]) == ("Locked.", "verdict")


def test_subproject_rows(repo):
    entries = [entry("eth_mac_rx", ["rtl/a.v"]), entry("eth_phy", ["rtl/b.v"]), entry("pcie_ep", ["rtl/c.v"])]
    bucket_map = {"buckets": {
        "net": {"description": " Ethernet cores. ", "prefixes": ["eth_"]},
        "mac": {"prefixes": ["eth_mac_"]},
        "pcie": {"prefixes": ["pcie_"]},
        "unused": {"prefixes": ["zzz"]},
    }}
    rows = s._aggregate_subproject_entries(entries, {"eth_phy": "top"}, repo, "acme", "u", "t", bucket_map)
    assert [r["name"] for r in rows] == ["net", "mac", "pcie"]
    assert [list(r) for r in rows] == [ROW_KEYS] * 3
    assert (rows[0]["description"], rows[0]["desc_source"]) == ("Ethernet cores.", "curator")
    assert rows[0]["top_modules"] == ["eth_phy"] and rows[1]["components"] == ["eth_mac_rx"]
    assert (rows[2]["description"], rows[2]["desc_source"]) == ("acme pcie", "auto")
    assert {r["license"] for r in rows} == {"MIT"}


@pytest.mark.parametrize("entries, bucket_map, message", [
    ([entry("x", ["x.v"])], {"version": 1, "bucket": {}},
     "subproject granularity requires a non-empty 'buckets' map; got bucket_map keys=['bucket', 'version']"),
    ([entry("uart_tx", ["u.v"]), entry("axi_dma", ["a.v"])], {"buckets": {"b": {"prefixes": ["eth_"]}}},
     "subproject granularity: 2 entries unassigned by bucket_map. Update the bucket map so residue is zero. "
     "Unassigned: axi_dma, uart_tx"),
])
def test_subproject_errors(tmp_path, entries, bucket_map, message):
    with pytest.raises(ValueError) as info:
        s._aggregate_subproject_entries(entries, {}, tmp_path, "acme", "u", "t", bucket_map)
    assert str(info.value) == message


def test_one_bucket():
    row = s._aggregate_one_bucket([entry("t", ["t.v"], description="", desc_source="llm")], {"t": "top"}, "acme",
                                  "u", "t", bucket_name="grp", bucket_description="  ", license_id="GPL-3.0-only")
    assert list(row) == ROW_KEYS
    assert (row["description"], row["desc_source"], row["role"]) == ("", "llm", "subproject")
    assert row["license_class"] == "strong-copyleft"


def test_type_errors(repo):
    with pytest.raises(TypeError):
        s._aggregate_repo_entry({"name": "x"}, {}, repo, "acme", "u", "t")
    with pytest.raises(TypeError):
        s._aggregate_repo_entry([{"no_name": 1}], {}, repo, "acme", "u", "t")
    with pytest.raises(TypeError):
        s._aggregate_subproject_entries([entry("x", [])], {}, repo, "acme", "u", "t", None)
    with pytest.raises(TypeError):
        s._collect_define_carriers(repo, ("rtl/fifo.v",))
    with pytest.raises(TypeError):
        s._detect_vendor_variants(repo, "rtl/fifo.v")
    with pytest.raises(TypeError):
        s._extract_port_tags(b"input clk;", ".v")


def test_define_carriers_and_variants(repo):
    assert s._collect_define_carriers(repo, ["rtl/fifo.v"]) == ["rtl/defs.vh"]
    assert s._collect_define_carriers(str(repo), [str(repo / "rtl/fifo.v")]) == ["rtl/defs.vh"]
    assert s._collect_define_carriers(repo, []) == []
    assert s._detect_vendor_variants(repo, ["rtl\\pll_xilinx.v", "rtl\\pll.v"]) == {"xilinx": ["rtl\\pll_xilinx.v"]}


def test_port_and_readme_tags(repo):
    tags = {"kept"}
    assert s._add_signal_tags("tx_10g_clk", tags) is None
    assert tags == {"kept", "10", "gigabit", "10gbe", "clock"}
    assert s._extract_port_tags("input wire [7:0] s_axis_tdata;", ".v") == {"axi", "stream"}
    first = s._extract_readme_tags(repo)
    assert "buffer" in first  # "fifo" in the README
    (repo / "README.md").write_text("uart\n")
    assert s._extract_readme_tags(pathlib.Path(repo)) == first
    assert str(repo) in s._readme_cache and s._readme_cache[str(repo)] == first
    assert str(repo) in list(s._readme_cache) and len(s._readme_cache) >= 1


def test_readme_rejected_by_the_module_validator(repo, monkeypatch):
    seen = []

    def reject(text, name=None, namespace=None):
        seen.append((text, name, namespace))
        return True

    monkeypatch.setattr(s, "_desc_is_suspect", reject)
    entries = [entry("fifo", ["rtl/fifo.v"], description="A FIFO.", desc_source="ports")]
    row = s._aggregate_repo_entry(entries, {"fifo": "top"}, repo, "acme", "https://h/acme/cores", "v1")[0]
    assert (row["description"], row["desc_source"]) == ("A FIFO.", "ports")
    assert seen == [("Small FIFO and PLL cores for FPGA designs.", None, "acme")]
    row = s._aggregate_repo_entry(entries, {}, repo, "acme", "https://h/acme/cores", "v1")[0]
    assert (row["description"], row["desc_source"]) == ("acme IP library", "auto")
