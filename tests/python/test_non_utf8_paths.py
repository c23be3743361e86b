"""Sources whose directory and file names are not UTF-8: found, kept byte for byte, handed to Python as
os.fsdecode makes them and written to JSON as json.dumps writes those str."""

import json
import os
import shutil
import subprocess

import pytest

import quarrix_core.ip_scanner as s
from quarrix_core.dependency_resolver import DependencyResolver
from quarrix_core.probes import default_probes

DIR = b"rtl/caf\xe9"  # Latin-1, not UTF-8
TOP = DIR + b"/blink.v"
LEAF = DIR + b"/cnt\xff.v"
VHDL_TOP = DIR + b"/vtop.vhd"
VHDL_LEAF = DIR + b"/inv\xff.vhd"
VHDL_HEAD = "library ieee; use ieee.std_logic_1164.all;\n"


@pytest.fixture
def repo(tmp_path):
    root = os.fsencode(tmp_path / "repo")
    os.makedirs(os.path.join(root, DIR))
    with open(os.path.join(root, LEAF), "w") as f:
        f.write("module counter(input clk, output reg [3:0] q);\n"
                "  always @(posedge clk) q <= q + 4'd1;\nendmodule\n")
    with open(os.path.join(root, TOP), "w") as f:
        f.write("// Blinks a LED from the top bit of a counter.\n"
                "module blink(input clk, output led);\n"
                "  wire [3:0] q;\n  counter u0(.clk(clk), .q(q));\n  assign led = q[3];\nendmodule\n")
    with open(os.path.join(root, VHDL_LEAF), "w") as f:
        f.write(VHDL_HEAD + "entity inv is port (a : in std_logic; y : out std_logic); end entity;\n"
                "architecture rtl of inv is begin y <= not a; end architecture;\n")
    with open(os.path.join(root, VHDL_TOP), "w") as f:
        f.write(VHDL_HEAD + "entity vtop is port (a : in std_logic; y : out std_logic); end entity;\n"
                "architecture rtl of vtop is begin u0: entity work.inv port map (a => a, y => y); end architecture;\n")
    return os.fsdecode(root)


def scan(repo, tmp_path):
    probes = default_probes(cache_dir=tmp_path / "cache")
    return s.scan_repo(repo, "ns", "u", "t", "c", probes, use_llm=False)


def test_resolver_finds_the_units_and_keeps_their_bytes(repo):
    base = os.fsencode(repo)
    r = DependencyResolver([repo])
    assert {name: os.fsencode(path) for name, path in r.entity_map.items()} == {
        "blink": os.path.join(base, TOP), "counter": os.path.join(base, LEAF),
        "vtop": os.path.join(base, VHDL_TOP), "inv": os.path.join(base, VHDL_LEAF)}
    assert [os.fsencode(p) for p in r.get_compilation_order("blink")] == [
        os.path.join(base, LEAF), os.path.join(base, TOP)]
    # A pattern holding the same bytes reaches the resolver intact.
    excluded = DependencyResolver([repo], exclude_dirs=[os.fsdecode(b"cnt\xff"), os.fsdecode(b"inv\xff")])
    assert set(excluded.entity_map) == {"blink", "vtop"}


def test_scan_rows_from_python_and_the_command_line_agree(repo, tmp_path):
    rows = scan(repo, tmp_path)
    assert [r["name"] for r in rows] == ["blink", "vtop"]
    files = [f for r in rows for f in r["quarrix_compat"]["files"]]
    assert [os.fsencode(f) for f in files] == [LEAF, TOP, VHDL_LEAF, VHDL_TOP]

    scanner = os.environ.get("QUARRIX_SCAN") or shutil.which("quarrix-scan")
    if not scanner:
        pytest.fail("quarrix-scan is neither installed on PATH nor named by QUARRIX_SCAN")
    out = subprocess.run([scanner, os.fsencode(repo), "--namespace", "ns", "--url", "u", "--tag", "t",
                          "--commit", "c", "--no-llm", "--cache-dir", tmp_path / "cache", "-q"],
                         capture_output=True, timeout=300)
    assert out.returncode == 0, out.stderr
    text = out.stdout.decode("utf-8")  # valid UTF-8: the bytes that are not appear as escapes
    assert json.loads(text) == rows
    for path in files:
        assert json.dumps(path) in text


@pytest.mark.parametrize("top, tools", [("blink", ("verilator", "iverilog")), ("vtop", ("ghdl",))])
def test_tops_verify_with_the_tools(repo, tmp_path, top, tools):
    if not any(shutil.which(tool) for tool in tools):
        pytest.skip(f"none of {', '.join(tools)} on PATH")
    assert {r["name"]: r["verified"] for r in scan(repo, tmp_path)}[top] is True


@pytest.mark.parametrize("call, argument", [
    (lambda repo: s.scan_repo("\ud800", "ns", "u", "t", "c", default_probes(verify=False)), "repo_path"),
    (lambda repo: s.scan_repo(repo, "\ud800", "u", "t", "c", default_probes(verify=False)), "namespace"),
    (lambda repo: DependencyResolver([repo, "\ud800"]), "src_dirs item"),
    (lambda repo: DependencyResolver([repo], exclude_dirs=["\ud800"]), "exclude_dirs items"),
])
def test_a_str_with_no_bytes_is_refused_by_argument_name(repo, call, argument):
    # A lone surrogate that escapes no byte has no file-system form (os.fsencode refuses it too).
    with pytest.raises(ValueError, match=f"^{argument}: .*surrogates not allowed"):
        call(repo)
