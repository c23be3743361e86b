"""Each description tier wins where it should, seen through scan_repo."""

import quarrix_core.ip_scanner as s

SOURCES = {
    "locked_core.v": "// Arbiter with four requesters.\nmodule locked_core (input clk);\nendmodule\n",
    "vhdl_header.vhd": ("-- Pulse stretcher for slow clock domains.\n-- Second line.\nlibrary ieee;\n"
                        "entity vhdl_header is port (clk : in bit); end entity;\n"),
    "block_header.v": "/*\n * Debounce filter for mechanical switches.\n */\nmodule block_header (input clk);\nendmodule\n",
    "line_header.sv": "// Gray-code counter with synchronous reset.\nmodule line_header (input logic clk);\nendmodule\n",
    "axis_fifo.v": ("module axis_fifo (input clk, input [7:0] s_axis_tdata, input s_axis_tvalid,\n"
                    "  output s_axis_tready, output [7:0] m_axis_tdata, output m_axis_tvalid,\n"
                    "  input m_axis_tready);\nendmodule\n"),
    "zork_keep.v": "module zork_keep (input clk, output q);\nendmodule\n",
    "zork_bad.v": "module zork_bad (input clk, output q);\nendmodule\n",
    "zork_none.v": "module zork_none (input clk, output q);\nendmodule\n",
}


def test_each_tier_through_scan_repo(tmp_path):
    for name, text in SOURCES.items():
        (tmp_path / name).write_text(text)
    probes = s.ScanProbes(lambda r: "work", lambda f, l: ("vhdl-2008", False), lambda f: [], lambda r: {},
                          lambda v, t: [], lambda f: False)
    verdicts = {"acme/locked_core": {"verdict": "good", "locked_text": "Curated round-robin arbiter."}}
    previous = {"zork_keep": "Bit-serial zork engine.", "zork_bad": "Copyright (c) 2020 ACME Corp. All rights reserved."}
    rows = s.scan_repo(tmp_path, "acme", "u", "t", "c", probes, use_llm=False, granularity="all",
                       previous_descriptions=previous, description_verdicts=verdicts)
    got = {r["name"]: (r["desc_source"], r["description"]) for r in rows}
    assert got["locked_core"] == ("verdict", "Curated round-robin arbiter.")
    assert got["vhdl_header"][0] == "header" and got["vhdl_header"][1].startswith("Pulse stretcher")
    assert got["block_header"] == ("header", "Debounce filter for mechanical switches.")
    assert got["line_header"] == ("header", "Gray-code counter with synchronous reset.")
    assert got["axis_fifo"][0] == "ports" and "AXI4-Stream" in got["axis_fifo"][1]
    assert got["zork_keep"] == ("preserved", "Bit-serial zork engine.")
    assert got["zork_bad"] == ("auto", "acme IP: zork_bad")  # a suspect previous text is not kept
    assert got["zork_none"] == ("auto", "acme IP: zork_none")
