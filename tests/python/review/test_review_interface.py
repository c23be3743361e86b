"""Ports and parameters from pyslang and GHDL, their cache, and where a source lives on the forge."""

import shutil

import pytest

from quarrix_core.review import interface
from quarrix_core.review.interface import InterfaceCache, UnitFiles, parse_interface
from quarrix_core.review.source_view import forge_link, highlighted

SV_PKG = "package p; localparam int W = 4; endpackage\n"
SV_TOP = """`include "inc/defs.svh"
module top import p::*; #(parameter int N = `DEPTH, localparam L = N * 2, parameter type T = logic [N-1:0])
  (input clk, input [W-1:0] a, b, output T q, bus_if.slave s);
endmodule
"""
SV_OLD = "module old(a, y);\n  input [7:0] a;\n  output reg y;\nendmodule\n"
VHDL_PKG = "package pk is constant W : positive := 8; end package;\n"
VHDL_TOP = """library ieee; use ieee.std_logic_1164.all;
use work.pk.all;
entity Blk is
  generic (NAME : string := "a(b);c"; D : natural := W);
  port (
    clk, rst : in std_logic := '0';  -- one line, two ports
    q : out std_logic_vector(W - 1 downto 0)  -- a comment (with parens)
  );
end entity;
architecture a of Blk is begin end architecture;
"""


def write(tmp_path, files):
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    return [str(tmp_path / name) for name in files]


def by_name(items):
    return {p["name"]: p for p in items}


def test_systemverilog_ports_follow_the_language_not_the_text(tmp_path):
    paths = write(tmp_path, {"inc/defs.svh": "`define DEPTH 3\n", "p.sv": SV_PKG,
                             "bus.sv": "interface bus_if; logic v; modport slave(input v); endinterface\n",
                             "top.sv": SV_TOP})
    got = parse_interface("top", "systemverilog", "work", paths, str(tmp_path))
    assert not got.problem and (got.first_line, got.last_line) == (2, 3)
    ports = by_name(got.ports)
    # b inherits a's direction and packed width; the macro and package constant are resolved.
    assert [(p["direction"], p["width"]) for p in (ports["a"], ports["b"])] == [("input", "4")] * 2
    assert ports["q"]["width"] == "3" and ports["s"]["direction"] == "interface"
    params = by_name(got.params)
    assert params["N"]["default"] == "3" and params["L"]["kind"] == "localparam"
    assert params["T"]["kind"] == "parameter type"


def test_non_ansi_ports_take_their_body_declarations(tmp_path):
    got = parse_interface("old", "verilog", "work", write(tmp_path, {"old.v": SV_OLD}), str(tmp_path))
    assert [(p["name"], p["direction"], p["width"]) for p in got.ports] == [("a", "input", "8"), ("y", "output", "1")]


def test_a_rejected_source_gives_the_parsers_message_and_no_ports(tmp_path):
    bad = write(tmp_path, {"bad.v": "module bad(input a, output);\n  wire = ;\nendmodule\n"})
    got = parse_interface("bad", "verilog", "work", bad, str(tmp_path))
    assert got.problem and "bad.v:" in got.problem and not got.ports
    missing = parse_interface("other", "verilog", "work", bad[:0] + write(tmp_path, {"ok.v": SV_OLD}),
                              str(tmp_path))
    assert "no module" in missing.problem


@pytest.mark.skipif(shutil.which("ghdl") is None, reason="needs ghdl")
def test_vhdl_ports_come_from_ghdl_with_the_compile_list_analysed(tmp_path):
    paths = write(tmp_path, {"pk.vhd": VHDL_PKG, "blk.vhd": VHDL_TOP})
    got = parse_interface("Blk", "vhdl-2008", "mylib", paths, str(tmp_path))
    assert not got.problem, got.problem
    assert [(p["name"], p["direction"], p["type"]) for p in got.ports] == [
        ("clk", "in", "std_logic"), ("rst", "in", "std_logic"), ("q", "out", "std_logic_vector(W - 1 downto 0)")]
    assert by_name(got.ports)["q"]["width"] == "W - 1 downto 0"
    assert [(p["name"], p["default"]) for p in got.params] == [("NAME", '"a(b);c"'), ("D", "W")]
    assert got.first_line == 3
    alone = parse_interface("Blk", "vhdl-2008", "mylib", paths[1:], str(tmp_path))
    assert not alone.ports and '"pk" not found' in alone.problem


VHDL_LACKING = """library ieee;
\tuse\tieee.std_logic_1164.all;
library osvvm; use osvvm.RandomPkg.RandomPType;
entity vc is
\tgeneric (\tW\t: natural := 8);
\tport (\tclk\t: in\tstd_logic;
\t\tq : out std_logic_vector(W - 1 downto 0));
end entity vc;
architecture a of vc is
  shared variable rnd : RandomPType;
begin
end architecture;
"""


@pytest.mark.skipif(shutil.which("ghdl") is None, reason="needs ghdl")
def test_vhdl_ports_of_a_file_ghdl_rejects_come_from_the_entity_alone_or_not_at_all(tmp_path):
    # The architecture needs a library the checkout lacks; the entity does not. Tabs move GHDL's columns.
    paths = write(tmp_path, {"vc.vhd": VHDL_LACKING})
    got = parse_interface("vc", "vhdl-2008", "lib", paths, str(tmp_path), str(tmp_path))
    assert not got.problem, got.problem
    assert [(p["name"], p["direction"], p["type"]) for p in got.ports] == [
        ("clk", "in", "std_logic"), ("q", "out", "std_logic_vector(W - 1 downto 0)")]
    assert [(p["name"], p["type"], p["default"]) for p in got.params] == [("W", "natural", "8")]
    assert 'cannot find resource library "osvvm"' in got.note and "`library osvvm;`" in got.note
    assert "`use osvvm.RandomPkg.RandomPType;`" in got.note and "ieee" not in got.note.split("whole")[1]

    # When the entity itself needs what is missing, GHDL's message on the file stands.
    needs = write(tmp_path, {"vc.vhd": VHDL_LACKING.replace("in\tstd_logic;", "in\tRandomPType;")})
    got = parse_interface("vc", "vhdl-2008", "lib", needs, str(tmp_path), str(tmp_path))
    assert not got.ports and 'cannot find resource library "osvvm"' in got.problem and not got.note


def test_each_compile_list_is_parsed_once_until_a_file_changes(tmp_path, monkeypatch):
    paths = write(tmp_path, {"old.v": SV_OLD})
    calls = []
    real = interface.parse_interface
    monkeypatch.setattr(interface, "parse_interface", lambda *a: calls.append(a) or real(*a))
    cache = InterfaceCache(tmp_path / "index")
    unit = UnitFiles("old", "verilog", "work", paths, str(tmp_path))
    first = cache.get(unit)
    assert InterfaceCache(tmp_path / "index").get(unit) == first
    (tmp_path / "old.v").write_text(SV_OLD.replace("[7:0]", "[3:0]"))
    assert cache.get(unit).ports[0]["width"] == "4"
    assert len(calls) == 2


def test_forge_links_point_at_the_scanned_commit_or_nowhere():
    sha = "0123456789abcdef0123456789abcdef01234567"
    assert forge_link("git@github.com:o/r.git", "v1.2", "rtl/a b.v", 3, 9) == \
        "https://github.com/o/r/blob/v1.2/rtl/a%20b.v#L3-L9"
    assert forge_link("https://gitlab.com/g/r", "abc123", "a.v", 2, 4) == "https://gitlab.com/g/r/-/blob/abc123/a.v#L2-4"
    # Each forge's own shape: GitLab subgroups, Gitea's commit and bare-ref forms, one line, the tree.
    assert forge_link("ssh://git@gitlab.example.org/a/b/c.git", sha, "x.sv", 5, 5) == \
        f"https://gitlab.example.org/a/b/c/-/blob/{sha}/x.sv#L5"
    assert forge_link("https://codeberg.org/o/r", sha, "d/x.vhd", 1, 2) == \
        f"https://codeberg.org/o/r/src/commit/{sha}/d/x.vhd#L1-L2"
    assert forge_link("https://gitea.example.net:3000/o/r.git", "release/1", "x.v") == \
        "https://gitea.example.net:3000/o/r/src/release/1/x.v"
    assert forge_link("https://bitbucket.org/o/r", sha, "x.v", 4, 6) == f"https://bitbucket.org/o/r/src/{sha}/x.v#lines-4:6"
    assert forge_link("https://github.com/o/r/", sha) == f"https://github.com/o/r/tree/{sha}"
    hostile = [
        ("javascript:alert(1)", "x", "a.v"), ("file:///etc", "x", "a.v"), ("ftp://github.com/o/r", "x", "a.v"),
        ("https://u:pw@github.com/o/r", "x", "a.v"), ("https://ghp_token@github.com/o/r", "x", "a.v"),
        ("ssh://git:pw@github.com/o/r", "x", "a.v"), ("https://github.com\\@evil.example/o/r", "x", "a.v"),
        ("https://github.com.evil.example/o/r", "x", "a.v"), ("https://example.com/o/r", "x", "a.v"),
        ("https://github.com/", "x", "a.v"), ("https://github.com/o/r/tree/main", "x", "a.v"),
        ("https://github.com/o/%2e%2e", "x", "a.v"), ("https://github.com:x/o/r", "x", "a.v"),
        ("https://github.com/o\n/r", "x", "a.v"), ("https://github.com/o/r", "", "a.v"),
        ("https://github.com/o/r", "../main", "a.v"), ("https://github.com/o/r", "x", "../../evil/a.v"),
        ("https://github.com/o/r", "x", "/etc/passwd"), ("https://github.com/o/r", "x", "a\x1b[2J.v"),
    ]
    for url, ref, path in hostile:
        assert forge_link(url, ref, path) is None, (url, ref, path)


def test_highlighted_source_escapes_markup_and_marks_the_declaration():
    html, cut = highlighted("x.sv", "// </code><script>alert(1)</script>\nmodule x;\nendmodule\n", 2, 2)
    assert "<script>" not in html and not cut
    assert html.count('class="hll"') == 1 and html.index('class="hll"') > html.index('id="L-2"')


@pytest.mark.skipif(shutil.which("ghdl") is None, reason="needs ghdl")
def test_what_the_compile_list_leaves_out_is_found_in_the_checkout(tmp_path):
    # The package lives in another library and file than the row names; the header in a directory of its own.
    write(tmp_path, {"lib/pk.vhd": VHDL_PKG, "inc/deep/defs.svh": "`define DEPTH 3\n", "p.sv": SV_PKG,
                     "bus.sv": "interface bus_if; modport slave(); endinterface\n"})
    top = write(tmp_path, {"blk.vhd": VHDL_TOP.replace("use work.pk.all;", "library other; use other.pk.all;")})
    got = parse_interface("Blk", "vhdl-2008", "mylib", top, str(tmp_path), str(tmp_path))
    assert not got.problem and len(got.ports) == 3
    sv = write(tmp_path, {"top.sv": SV_TOP.replace("inc/defs.svh", "defs.svh")})
    got = parse_interface("top", "systemverilog", "work", [str(tmp_path / "p.sv"), str(tmp_path / "bus.sv"), *sv],
                          str(tmp_path), str(tmp_path))
    assert not got.problem and by_name(got.ports)["q"]["width"] == "3"


def test_an_include_that_climbs_out_of_the_root_is_not_read_into_messages(tmp_path):
    (tmp_path / "secret.txt").write_text("CANARY-outside not verilog\n")
    top = write(tmp_path, {"r/t.sv": 'module t;\n`include "../secret.txt"\nendmodule\n'})
    got = parse_interface("t", "systemverilog", "work", top, str(tmp_path / "r"), str(tmp_path / "r"))
    assert "outside --repo-root" in got.problem and "CANARY" not in got.problem and not got.ports
    # Nor through a link inside the checkout that points out of it.
    (tmp_path / "r" / "inc.svh").symlink_to(tmp_path / "secret.txt")
    linked = write(tmp_path, {"r/u.sv": 'module u;\n`include "inc.svh"\nendmodule\n'})
    interface._checkout_files.cache_clear()
    got = parse_interface("u", "systemverilog", "work", linked, str(tmp_path / "r"), str(tmp_path / "r"))
    assert "CANARY" not in got.problem and not got.ports
