#!/usr/bin/env python3
"""Writes a synthetic HDL repository of a given number of design units.

The tree mimics a real multi-subsystem IP repository:
  src/<domain>/<subsystem>/<group>[/<subgroup>]/<unit>.{v,sv,vhd}  one unit per file, some with two
  src/<domain>/common_<lang>/...  shared components instantiated from the domain's subsystems
  .../<subsystem>/pkg/            VHDL and SystemVerilog packages used by the subsystem
  .../<subsystem>/include/        an included parameter header; in self-contained subsystems (which
                                  use no shared component) also a define-only header nobody includes
  .../<subsystem>/TECH/<vendor>/  vendor variants of a memory primitive (plus the generic one in TECH/)
  .../<subsystem>/tb/             test benches instantiating the subsystem's tops
Units form levels: leaves, mid-level blocks instantiating two to four lower units of the same
language (preferring shared components), and tops. Header comments, port lists of known
protocols and bare units alternate so that every description tier has work.

With --chain, the repository is instead a chain of N modules, one per file, each instantiating
the next: every unit's compile list names every file below it.

Usage: generate_repo.py --units N --out DIR [--seed S] [--chain]
Writes DIR (which must not exist) and prints a one-line JSON summary (units, files, bytes).
"""

import argparse
import json
import os
import random
import sys

LANGS = ("v", "sv", "vhd")
VENDORS = ("xilinx", "altera", "lattice")
ROLE_WORDS = ("fifo", "uart", "spi", "arbiter", "mux", "counter", "crc", "filter", "decoder", "encoder",
              "timer", "dma", "ctrl", "bridge", "sync", "ram", "shift", "pwm", "gpio", "cordic")
PROSE = ("Synchronous block with a registered output stage and a small control state machine.",
         "Streams samples from the input port to the output port, applying back-pressure when full.",
         "Implements the configurable datapath of the subsystem; latency is two clock cycles.",
         "Collects requests from several masters and grants the shared resource in turn.",
         "Computes a running checksum over the incoming words and flags mismatches at the end of a frame.")

# Port sets per flavour: (name, direction, width) with width 1 meaning a scalar.
PORTS = {
    "axis": [("s_axis_tdata", "in", 32), ("s_axis_tvalid", "in", 1), ("s_axis_tready", "out", 1),
             ("s_axis_tlast", "in", 1), ("m_axis_tdata", "out", 32), ("m_axis_tvalid", "out", 1),
             ("m_axis_tready", "in", 1), ("m_axis_tlast", "out", 1)],
    "wb": [("wb_adr_i", "in", 32), ("wb_dat_i", "in", 32), ("wb_dat_o", "out", 32), ("wb_cyc_i", "in", 1),
           ("wb_stb_i", "in", 1), ("wb_ack_o", "out", 1), ("wb_we_i", "in", 1)],
    "spi": [("sclk", "out", 1), ("mosi", "out", 1), ("miso", "in", 1), ("cs_n", "out", 1),
            ("tx_data", "in", 8), ("rx_data", "out", 8)],
    "plain": [("din", "in", 16), ("dout", "out", 16), ("valid_in", "in", 1), ("valid_out", "out", 1)],
}


class Unit:
    def __init__(self, name, lang, rel_dir, level, flavour, tier):
        self.name, self.lang, self.rel_dir, self.level = name, lang, rel_dir, level
        self.flavour, self.tier = flavour, tier
        self.children = []
        self.package = None  # package name used (VHDL / SV)
        self.include = None  # included header (Verilog family)


def verilog_ports(ports):
    out = ["    input  wire clk", "    input  wire rst"]
    for name, direction, width in ports:
        rng = "" if width == 1 else f"[{width - 1}:0] "
        out.append(f"    {'input ' if direction == 'in' else 'output'} wire {rng}{name}")
    return ",\n".join(out)


def vhdl_ports(ports):
    out = ["    clk : in std_logic", "    rst : in std_logic"]
    for name, direction, width in ports:
        typ = "std_logic" if width == 1 else f"std_logic_vector({width - 1} downto 0)"
        out.append(f"    {name} : {direction} {typ}")
    return ";\n".join(out)


def header_comment(unit, rng, lang):
    prose = rng.choice(PROSE)
    if lang == "vhd":
        return (f"-- Copyright (c) 2024 Example Corp\n-- SPDX-License-Identifier: MIT\n"
                f"--\n-- {unit.name}: {prose}\n-- The block is reused across the design.\n--\n")
    return (f"/*\n * Copyright (c) 2024 Example Corp\n * SPDX-License-Identifier: MIT\n *\n"
            f" * {unit.name}: {prose}\n * The block is reused across the design.\n */\n")


def verilog_unit(unit, rng):
    ports = PORTS[unit.flavour]
    text = header_comment(unit, rng, unit.lang) if unit.tier == "header" else f"// {unit.name}\n"
    if unit.include:
        text += f'`include "{unit.include}"\n'
    text += "`timescale 1ns / 1ps\n\n"
    params = "#(\n    parameter DATA_WIDTH = 16,\n    parameter DEPTH = 8\n) " if unit.tier != "bare" else ""
    text += f"module {unit.name} {params}(\n{verilog_ports(ports)}\n);\n"
    if unit.package:
        text += f"  import {unit.package}::*;\n"
    text += "  reg [15:0] state_q;\n"
    text += "  always @(posedge clk) begin\n    if (rst) state_q <= 16'd0;\n    else state_q <= state_q + 16'd1;\n  end\n"
    for i, child in enumerate(unit.children):
        text += f"  {child.name} u_{child.name}_{i} (\n    .clk(clk),\n    .rst(rst)\n  );\n"
    text += "endmodule\n"
    return text


def vhdl_unit(unit, rng):
    ports = PORTS[unit.flavour]
    text = header_comment(unit, rng, "vhd") if unit.tier == "header" else f"-- {unit.name}\n"
    text += "library ieee;\nuse ieee.std_logic_1164.all;\nuse ieee.numeric_std.all;\n"
    if unit.package:
        text += f"use work.{unit.package}.all;\n"
    text += f"\nentity {unit.name} is\n"
    if unit.tier != "bare":
        text += "  generic (\n    DATA_WIDTH : integer := 16;\n    DEPTH : integer := 8\n  );\n"
    text += f"  port (\n{vhdl_ports(ports)}\n  );\nend entity {unit.name};\n\n"
    text += f"architecture rtl of {unit.name} is\n  signal state_q : unsigned(15 downto 0);\nbegin\n"
    text += "  process (clk)\n  begin\n    if rising_edge(clk) then\n      if rst = '1' then\n"
    text += "        state_q <= (others => '0');\n      else\n        state_q <= state_q + 1;\n      end if;\n"
    text += "    end if;\n  end process;\n"
    for i, child in enumerate(unit.children):
        text += f"  u_{child.name}_{i} : entity work.{child.name}\n    port map (\n      clk => clk,\n      rst => rst\n    );\n"
    text += "end architecture rtl;\n"
    return text


def write(root, rel, text, totals):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = text.encode("utf-8")
    with open(path, "wb") as f:
        f.write(data)
    totals["files"] += 1
    totals["bytes"] += len(data)


def generate(n_units, out, seed):
    rng = random.Random(seed)
    totals = {"units": 0, "files": 0, "bytes": 0}
    os.makedirs(out)
    write(out, "README.md", "# Synthetic IP collection\n\nGenerated HDL for scan benchmarks.\n", totals)
    write(out, "LICENSE", "MIT License\n\nCopyright (c) 2024 Example Corp\n\nPermission is hereby granted, free of "
          "charge, to any person obtaining a copy of this software and associated documentation files (the "
          "\"Software\"), to deal in the Software without restriction.\n", totals)

    per_subsystem = 40
    n_subsystems = max(1, n_units // per_subsystem)
    # Shared components: about a tenth of the units, split across languages.
    n_common = max(3, n_units // 10)
    # Packages, vendor variants and test benches take at most six units per subsystem; extra
    # shared components make up the difference so that the total is exactly n_units.
    budget = max(n_subsystems, n_units - n_common - 6 * n_subsystems)
    units = []
    # Subsystems come in domains of eight sharing one library of common components: a top
    # lists the components it shares a file with, so sharing across the whole repository
    # would make that list, and the rows, grow with the repository.
    n_domains = (n_subsystems + 7) // 8
    common = {}

    def add_common(i):
        dom, lang = i % n_domains, LANGS[(i // n_domains) % 3]
        word = ROLE_WORDS[i % len(ROLE_WORDS)]
        u = Unit(f"cmn_{word}_{i}", lang, f"src/d{dom:03d}/common_{lang}/{word}", 0, rng.choice(list(PORTS)),
                 ("header", "ports", "bare")[i % 3])
        common.setdefault((dom, lang), []).append(u)
        units.append(u)

    for i in range(n_common):
        add_common(i)

    for s in range(n_subsystems):
        lang = LANGS[s % 3]
        sub = f"ss{s:04d}"
        base = f"src/d{s // 8:03d}/{sub}"
        shared = common.get((s // 8, lang), [])
        count = budget // n_subsystems + (1 if s < budget % n_subsystems else 0)
        # Packages and headers of the subsystem.
        package = None
        # A define-only header applies to every compile list spanning its directory; only
        # subsystems that use no shared component have one, so compile lists stay short.
        self_contained = s % 8 == 1
        if lang == "vhd":
            package = f"{sub}_pkg"
            write(out, f"{base}/pkg/{package}.vhd",
                  f"library ieee;\nuse ieee.std_logic_1164.all;\n\npackage {package} is\n"
                  f"  constant {sub.upper()}_WIDTH : integer := 16;\nend package {package};\n", totals)
            totals["units"] += 1
        elif lang == "sv":
            package = f"{sub}_types_pkg"
            write(out, f"{base}/pkg/{package}.sv",
                  f"package {package};\n  typedef logic [15:0] word_t;\n  localparam int W = 16;\nendpackage\n", totals)
            totals["units"] += 1
        include = None
        if lang != "vhd":
            include = f"{sub}_params.vh"
            write(out, f"{base}/include/{include}", f"`ifndef {sub.upper()}_PARAMS\n`define {sub.upper()}_PARAMS\n"
                  f"`define {sub.upper()}_DEPTH 16\n`endif\n", totals)
            if self_contained:
                write(out, f"{base}/include/{sub}_defines.vh",
                      f"// Global defines of {sub}\n`define {sub.upper()}_ENABLE_DEBUG\n`define {sub.upper()}_BUS 32\n",
                      totals)
            # Vendor variants of a memory primitive: TECH/<vendor>/ and the generic one in TECH/.
            ext = "sv" if lang == "sv" else "v"
            for vendor in VENDORS[: 1 + s % len(VENDORS)]:
                write(out, f"{base}/TECH/{vendor}/{sub}_tech_ram_{vendor}.{ext}",
                      f"module {sub}_tech_ram_{vendor} (input wire clk, input wire [7:0] d, output reg [7:0] q);\n"
                      f"  always @(posedge clk) q <= d;\nendmodule\n", totals)
                totals["units"] += 1
            write(out, f"{base}/TECH/{sub}_tech_ram.{ext}",
                  f"module {sub}_tech_ram (input wire clk, input wire [7:0] d, output reg [7:0] q);\n"
                  f"  always @(posedge clk) q <= d;\nendmodule\n", totals)
            totals["units"] += 1
        local = []
        for j in range(count):
            level = 0 if j < count * 0.5 else 1 if j < count * 0.8 else 2 if j < count * 0.95 else 3
            group = f"g{j % 5}"
            rel_dir = f"{base}/{group}" + (f"/sub{j % 3}" if level == 0 else "")
            word = ROLE_WORDS[(s + j) % len(ROLE_WORDS)]
            u = Unit(f"{sub}_{word}_{j}", lang, rel_dir, level, rng.choice(list(PORTS)),
                     ("header", "ports", "bare", "header")[j % 4])
            if rng.random() < 0.5:
                u.package = package
            if include and rng.random() < 0.3:
                u.include = include
            lower = [x for x in local if x.level < level]
            if level > 0 and lower:
                k = rng.randint(2, 4)
                picks = rng.sample(lower, min(k - 1, len(lower)))
                if shared and not self_contained and rng.random() < 0.7:
                    picks.append(rng.choice(shared))
                u.children = picks
            local.append(u)
            units.append(u)
        # A test bench per top of the subsystem.
        for top in [x for x in local if x.level == 3][:2]:
            if lang == "vhd":
                write(out, f"{base}/tb/{top.name}_tb.vhd",
                      f"library ieee;\nuse ieee.std_logic_1164.all;\n\nentity {top.name}_tb is\nend entity;\n\n"
                      f"architecture sim of {top.name}_tb is\n  signal clk, rst : std_logic := '0';\nbegin\n"
                      f"  dut : entity work.{top.name}\n    port map (clk => clk, rst => rst);\n"
                      f"  clk <= not clk after 5 ns;\nend architecture;\n", totals)
            else:
                write(out, f"{base}/tb/tb_{top.name}.{'sv' if lang == 'sv' else 'v'}",
                      f"`timescale 1ns / 1ps\nmodule tb_{top.name};\n  reg clk = 0, rst = 1;\n"
                      f"  {top.name} dut (.clk(clk), .rst(rst));\n  always #5 clk = ~clk;\n"
                      f"  initial begin\n    #100 rst = 0;\n    #1000 $finish;\n  end\nendmodule\n", totals)
            totals["units"] += 1

    for i in range(n_common, n_common + max(0, n_units - totals["units"] - len(units))):
        add_common(i)

    # One file per unit, except that every tenth Verilog leaf shares the file of its
    # predecessor when that lies in the same subsystem (or shared library).
    pending = None
    for u in units:
        ext = u.lang
        text = vhdl_unit(u, rng) if u.lang == "vhd" else verilog_unit(u, rng)
        totals["units"] += 1
        if (u.lang == "v" and u.level == 0 and pending is not None and totals["units"] % 10 == 0
                and pending[0].split("/")[:3] == u.rel_dir.split("/")[:3]):
            pending[1].append(text)
            continue
        if pending is not None:
            write(out, pending[0], "\n".join(pending[1]), totals)
        pending = (f"{u.rel_dir}/{u.name}.{ext}", [text])
    if pending is not None:
        write(out, pending[0], "\n".join(pending[1]), totals)
    return totals


def generate_chain(n_units, out):
    totals = {"units": n_units, "files": 0, "bytes": 0}
    for i in range(n_units):
        below = f" chain_{i + 1:05} u(.a(a));" if i + 1 < n_units else ""
        write(out, f"rtl/chain/c{i:05}.v", f"module chain_{i:05}(input a);{below} endmodule\n", totals)
    return totals


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--units", type=int, required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--chain", action="store_true", help="a chain of modules, one per file")
    args = parser.parse_args(argv)
    if args.units < 10:
        parser.error("--units must be at least 10")
    if os.path.exists(args.out):
        parser.error(f"{args.out} already exists")
    print(json.dumps(generate_chain(args.units, args.out) if args.chain else generate(args.units, args.out, args.seed)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
