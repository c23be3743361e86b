"""quarrix_core.probes: the built-in probes as a Python host uses them."""

import pathlib
import shutil

import pytest

import quarrix_core.ip_scanner as s
import quarrix_core.probes as p

DEMO = pathlib.Path(__file__).resolve().parents[2] / "examples" / "demo_repo"


def test_default_probes_answer_as_the_module_functions_within_one_session():
    probes = p.default_probes()
    assert isinstance(probes, s.ScanProbes)
    rtl = DEMO / "rtl"
    files = [rtl / "TECH" / "xilinx" / "ram_dp.v"]
    assert probes.detect_library_name(DEMO) == p.detect_library_name(DEMO)
    assert probes.detect_vendor_deps(files) == p.detect_vendor_deps(files)
    assert probes.detect_test_infrastructure(DEMO) == p.detect_test_infrastructure(DEMO)
    assert probes.compute_badges(True, {"cocotb": True}) == p.compute_badges(True, {"cocotb": True})
    assert probes.verify_verilog(files) == p.verify_verilog(files)
    standard = probes.detect_vhdl_standard([], "work")
    assert isinstance(standard, tuple) and standard == p.detect_vhdl_standard([], "work")


def test_default_probes_limits():
    files = [DEMO / "rtl" / "TECH" / "xilinx" / "ram_dp.v"]
    for probes in (p.default_probes(verify=False), p.default_probes(tool_budget=0)):
        assert probes.verify_verilog(files) is False
        assert probes.detect_vhdl_standard(files, "work") == ("unknown", False)
    for bad in ({"tool_budget": -1}, {"tool_budget": float("inf")}, {"tool_memory": 0}):
        with pytest.raises(ValueError):
            p.default_probes(**bad)
    with pytest.raises(TypeError):
        p.default_probes(False)  # keyword-only


@pytest.mark.skipif(not (shutil.which("verilator") or shutil.which("iverilog")), reason="no Verilog tool")
def test_default_probes_keep_tool_results_where_told(tmp_path):
    files = [DEMO / "rtl" / "TECH" / "xilinx" / "ram_dp.v"]
    answer = p.default_probes(cache_dir=tmp_path / "a").verify_verilog(files)
    assert (tmp_path / "a" / "tools.sqlite").is_file()
    assert p.default_probes(cache_dir=str(tmp_path / "a")).verify_verilog(files) == answer
    assert p.default_probes(cache_dir=tmp_path / "b", cache=False).verify_verilog(files) == answer
    assert not (tmp_path / "b").exists()
    # An unusable cache is left aside.
    (tmp_path / "c").write_text("not a directory")
    assert p.default_probes(cache_dir=tmp_path / "c").verify_verilog(files) == answer
    with pytest.raises(TypeError):
        p.default_probes(cache_dir=3)


def test_probes_take_str_and_pathlike():
    rtl = DEMO / "rtl"
    assert p.detect_library_name(DEMO) == p.detect_library_name(str(DEMO)) == "work"
    assert p.detect_vendor_deps([rtl / "TECH" / "xilinx" / "ram_dp.v"]) == ["xpm"]
    assert p.detect_vendor_deps((str(rtl / "uart" / "uart_tx.v"),)) == []
    standard = p.detect_vhdl_standard([rtl / "spi" / "spi_pkg.vhd", str(rtl / "spi" / "spi_master.vhd")], "work")
    assert standard == (("vhdl-2008", True) if shutil.which("ghdl") else ("unknown", False))
    verified = p.verify_verilog([rtl / "uart" / "uart_defs.vh", rtl / "uart" / "uart_tx.v"])
    assert verified is bool(shutil.which("verilator") or shutil.which("iverilog"))
    info = p.detect_test_infrastructure(DEMO)
    assert list(info) == ["cocotb", "vunit", "uvm", "verilator_cpp", "fusesoc", "ci"]
    assert p.compute_badges(True, {**info, "cocotb": True}) == ["verified", "cocotb"]
    assert p.compute_badges(0, {}) == []


@pytest.mark.parametrize("call", [
    lambda: p.detect_library_name(3),
    lambda: p.detect_vendor_deps("rtl/a.v"),
    lambda: p.detect_vendor_deps([3]),
    lambda: p.verify_verilog(None),
    lambda: p.detect_vhdl_standard([], None),
    lambda: p.compute_badges(True, {"x": object()}),
])
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_scan_with_default_probes():
    rows = s.scan_repo(DEMO, "demo", "", "", "", p.default_probes(), use_llm=False)
    assert [r["name"] for r in rows] == ["fifo_sync", "ram_dp", "spi_master", "uart_rx", "uart_top", "uart_tx"]
    assert all(r["test_info"]["ci"] == [] for r in rows)


@pytest.mark.skipif(not (shutil.which("verilator") or shutil.which("iverilog")), reason="no Verilog tool on PATH")
def test_a_scan_names_the_unit_unless_the_host_replaced_the_check(tmp_path):
    # The second module of the file misses a cell: the first checks clean only when named.
    (tmp_path / "pair.v").write_text("module good(input x, output y); assign y = x; endmodule\n"
                                     "module bad; missing_cell m(); endmodule\n")
    probes = p.default_probes(cache=False)
    verified = {r["name"]: r["verified"] for r in s.scan_repo(tmp_path, "t", "", "", "", probes, use_llm=False,
                                                              granularity="all")}
    assert verified == {"good": True, "bad": False}
    asked = []
    probes.verify_verilog = lambda files: asked.append(files) or False
    verified = {r["name"]: r["verified"] for r in s.scan_repo(tmp_path, "t", "", "", "", probes, use_llm=False,
                                                              granularity="all")}
    assert verified == {"good": False, "bad": False} and len(asked) == 2


def test_sandboxed_follows_bwrap_on_path(monkeypatch, tmp_path):
    if shutil.which("bwrap"):
        assert p.sandboxed()  # this machine can confine the tools (install-deps brings bubblewrap)
    monkeypatch.setenv("PATH", str(tmp_path))
    assert p.sandboxed() is False


def test_a_scan_runs_the_built_in_checks_ahead_on_jobs_threads(tmp_path, monkeypatch):
    """Scan(..., jobs=3): the same rows as scan_repo, the fake tool's runs overlapping."""
    tools = tmp_path / "tools"
    tools.mkdir()
    log = tmp_path / "runs"
    (tools / "verilator").write_text(
        f'#!/bin/sh\n[ "$1" = "--version" ] && {{ echo "verilator 0.0"; exit 0; }}\n'
        f'echo "start $$" >> "{log}"\n/bin/sleep 0.5\necho "end $$" >> "{log}"\n')
    (tools / "verilator").chmod(0o755)
    monkeypatch.setenv("PATH", str(tools))
    for i in range(3):
        (tmp_path / f"unit{i}.v").write_text(f"module unit{i}(input a); endmodule\n")
    repo = tmp_path
    scan = s.Scan(repo, "t", "", "", "", p.default_probes(cache=False), use_llm=False, granularity="all", jobs=3)
    rows = scan.run()
    assert rows == s.scan_repo(repo, "t", "", "", "", p.default_probes(cache=False), use_llm=False,
                               granularity="all")
    assert scan.counts == {"units": 3, "kept": 3, "skipped": 0}
    running = peak = 0
    for line in log.read_text().splitlines()[:6]:  # the first scan's runs
        running += 1 if line.startswith("start") else -1
        peak = max(peak, running)
    assert peak > 1
    with pytest.raises(ValueError, match="jobs"):
        s.Scan(repo, "t", "", "", "", p.default_probes(), jobs=0)
