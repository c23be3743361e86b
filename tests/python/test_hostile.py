"""Hostile repositories: each scan ends within its time and memory bounds, keeps the rows of the
repository's benign units and publishes nothing that lies outside the repository.

Every case builds its repository at test time beside an `outside` directory whose files all carry
the canary text; links in the repository point there. Each scan runs in its own process (the
binding in a fresh interpreter, and quarrix-scan), so its wall time and peak RSS are its own
(measured by GNU time when installed; without it, Linux counts the launching process's size at the
fork into the peak, so small peaks are upper bounds).
Set QUARRIX_HOSTILE_REPORT to a file name to collect the measurements.
"""

import json
import os
import pathlib
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass

import pytest

TIME_LIMIT_S = 60
TOOLS_TIME_LIMIT_S = 120  # with the HDL tools on PATH and a tool budget of 60 s
MEMORY_LIMIT_MIB = 1024
CANARY = "quarrix-canary-5d1f0c"
CANARY_WORD = "quarrix_canary_5d1f0c"  # as an identifier, which a tool quotes in its errors
LEAKED_UNIT = "canary_leak"
BENIGN_UNITS = ("benign_ctl", "benign_fifo", "benign_top")
PROVIDER_KEYS = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")

# The binding's scan in a fresh interpreter, with probes that do no work of their own.
SCAN_IN_PROCESS = r"""
import json, sys
import quarrix_core.ip_scanner as s
from quarrix_core.probes import default_probes
repo, out, granularity, which_probes = sys.argv[1:5]
probes = default_probes() if which_probes == "builtin" else s.ScanProbes(
    detect_library_name=lambda repo: "work",
    detect_vhdl_standard=lambda files, library: ("unknown", False),
    detect_vendor_deps=lambda files: [],
    detect_test_infrastructure=lambda repo: {},
    compute_badges=lambda verified, info: [],
    verify_verilog=lambda files: False,
)
rows = s.scan_repo(repo, "hostile", "https://example.org/hostile.git", "v1", "c0ffee", probes,
                   use_llm=False, granularity=granularity)
with open(out, "w") as f:
    json.dump(rows, f)
"""


@dataclass
class Run:
    returncode: int
    seconds: float
    peak_mib: float
    output: str
    stderr: str
    survivors: list  # processes of the scan's session still running after it ended
    report: str = ""  # quarrix-scan's --report
    cache: bytes = b""  # its tool cache


def session_survivors(session):
    """Processes of `session` that still run (zombies have ended; a slow init may keep them listed)."""
    alive = []
    for stat in pathlib.Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(") ", 1)[1].split()
        except (OSError, IndexError):
            continue
        if int(fields[3]) == session and fields[0] != "Z":
            alive.append(int(stat.parent.name))
    return alive


# GNU time forks the scan from a small process, so the peak it reports is the scan's alone.
GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def measured(argv, out_path, env, read_output=True):
    """Runs argv to completion (killed past twice the bound); wall time and the child's own peak RSS."""
    err_path = out_path.with_suffix(".stderr")
    rss_path = out_path.with_suffix(".rss")
    rss_path.unlink(missing_ok=True)
    if GNU_TIME:
        argv = [GNU_TIME, "-f", "%M", "-o", str(rss_path), *argv]
    start = time.monotonic()
    with open(os.devnull, "wb") as devnull, open(err_path, "wb") as err:
        proc = subprocess.Popen(argv, stdout=devnull, stderr=err, env=env, start_new_session=True)
    timer = threading.Timer(2 * TIME_LIMIT_S, os.killpg, (proc.pid, signal.SIGKILL))
    timer.start()
    try:
        _, status, usage = os.wait4(proc.pid, 0)
    finally:
        timer.cancel()
    seconds = time.monotonic() - start
    survivors = session_survivors(proc.pid)
    for pid in survivors:
        os.kill(pid, signal.SIGKILL)
    proc.returncode = os.waitstatus_to_exitcode(status)
    peak_kib = usage.ru_maxrss
    if GNU_TIME and rss_path.exists():
        lines = rss_path.read_text().split()
        peak_kib = int(lines[-1]) if lines and lines[-1].isdigit() else peak_kib
    output = out_path.read_text(errors="replace") if read_output and out_path.exists() else ""
    return Run(proc.returncode, seconds, peak_kib / 1024, output,
               err_path.read_text(errors="replace")[-2000:], survivors)


def scanner_path():
    return os.environ.get("QUARRIX_SCAN") or shutil.which("quarrix-scan")


def scan(mode, repo, work, granularity="all", tools=False, read_output=True):
    """Scans repo through the binding with probes that do no work ("inproc") or with the built-in
    probes ("builtin"), or through quarrix-scan without ("cli") or with the HDL tools, two checks at
    once ("cli-tools") or one ("cli-tools-j1"), and a fresh tool cache."""
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    out = work / f"rows-{mode}-{granularity}.json"
    out.unlink(missing_ok=True)
    report = work / f"report-{mode}-{granularity}.json"
    report.unlink(missing_ok=True)
    cache = work / f"cache-{mode}-{granularity}"
    shutil.rmtree(cache, ignore_errors=True)
    extra = []
    if mode.startswith("cli") and read_output:  # a report of a huge output would be as huge
        extra = ["--report", str(report)]
    if mode.startswith("cli-tools"):
        tools = True
        extra += ["--tool-budget", "60", "--cache-dir", str(cache), "--jobs", "1" if mode.endswith("-j1") else "2"]
    if not tools:
        # No HDL tools on PATH: the bounds are the scanner's own, not GHDL's or Verilator's
        # (each tool call has its own time limit).
        env["PATH"] = str(work / "no-tools")
        (work / "no-tools").mkdir(exist_ok=True)
    if mode in ("inproc", "builtin"):
        argv = [sys.executable, "-c", SCAN_IN_PROCESS, str(repo), str(out), granularity, mode]
    else:
        argv = [scanner_path(), str(repo), "--namespace", "hostile", "--granularity", granularity, "--no-llm",
                "-q", "-o", str(out), *extra]
    run = measured(argv, out, env, read_output)
    run.report = report.read_text(errors="replace") if report.exists() else ""
    run.cache = (cache / "tools.sqlite").read_bytes() if (cache / "tools.sqlite").exists() else b""
    return run


# ---------------------------------------------------------------- repository contents

def write_benign(repo):
    rtl = repo / "rtl"
    rtl.mkdir(parents=True, exist_ok=True)
    (rtl / "benign_fifo.v").write_text(
        "// Synchronous FIFO with a registered read port.\n"
        "module benign_fifo #(parameter WIDTH = 8) (\n"
        "  input clk, input rst, input [WIDTH-1:0] din, input wr_en, input rd_en,\n"
        "  output reg [WIDTH-1:0] dout, output full, output empty);\n"
        "endmodule\n")
    (rtl / "benign_top.v").write_text(
        "// Packet buffer that stores frames in a small FIFO.\n"
        "module benign_top (input clk, input rst, input [7:0] s_axis_tdata, input s_axis_tvalid,\n"
        "  output s_axis_tready);\n"
        "  benign_fifo u_fifo (.clk(clk), .rst(rst));\n"
        "endmodule\n")
    (rtl / "benign_ctl.vhd").write_text(
        "-- Control register block with a simple bus interface.\n"
        "library ieee;\nuse ieee.std_logic_1164.all;\n"
        "entity benign_ctl is\n  generic (ADDR_W : natural := 4);\n"
        "  port (clk : in std_logic; addr : in std_logic_vector(ADDR_W-1 downto 0); rdata : out std_logic);\n"
        "end entity;\narchitecture rtl of benign_ctl is\nbegin\nend architecture;\n")


def write_outside(outside):
    """Files outside the repository; any of their text in a row is a leak."""
    outside.mkdir(parents=True, exist_ok=True)
    (outside / "README.md").write_text(f"The {CANARY} core is a secret design that must stay private.\n")
    (outside / "LICENSE").write_text(
        f"MIT License\n\n{CANARY}\nPermission is hereby granted, free of charge, to any person\n")
    for name in ("x.v", "secret.v"):
        (outside / name).write_text(f"// The {CANARY} leak detector block.\nmodule {LEAKED_UNIT}(input a); endmodule\n")
    (outside / "secret.vhd").write_text(
        f"-- The {CANARY} secret entity.\nentity {LEAKED_UNIT}_vhd is port (a : in bit); end entity;\n")
    (outside / "dir").mkdir(exist_ok=True)
    (outside / "dir" / "inner.v").write_text(f"// {CANARY} inner.\nmodule {LEAKED_UNIT}_dir; endmodule\n")


def link_loops(repo, outside):
    rtl = repo / "rtl"
    (rtl / "loop").symlink_to(".")
    (rtl / "up").symlink_to("..")
    (rtl / "a").mkdir()
    (rtl / "a" / "back").symlink_to("../a")
    (rtl / "self.v").symlink_to("self.v")
    (rtl / "ping").symlink_to("pong")
    (rtl / "pong").symlink_to("ping")


def links_outside(repo, outside):
    (repo / "README.md").symlink_to(outside / "README.md")
    (repo / "LICENSE").symlink_to(os.path.relpath(outside / "LICENSE", repo))
    (repo / "rtl" / "x.v").symlink_to(outside / "x.v")
    (repo / "rtl" / "secret.vhd").symlink_to(os.path.relpath(outside / "secret.vhd", repo / "rtl"))
    (repo / "rtl" / "ext").symlink_to(outside / "dir")
    (repo / "rtl" / "escape").symlink_to(outside)


def links_dev_zero(repo, outside):
    for rel in ("README.md", "LICENSE", "rtl/x.v", "rtl/z.vhd", "rtl/h.vh"):
        (repo / rel).symlink_to("/dev/zero")
    (repo / "rtl" / "rand.sv").symlink_to("/dev/urandom")


def fifos(repo, outside):
    for rel in ("README.md", "LICENSE", "rtl/fifo.v", "rtl/fifo.sv", "rtl/fifo.vhd", "rtl/fifo.vh", "rtl/fifo.svh"):
        os.mkfifo(repo / rel)


def huge_single_line(repo, outside):
    """A 200 MiB .v file of one line, written in 1 MiB chunks."""
    chunk = ("p" + "x" * 13 + ", ") * (1 << 16)   # 1 MiB
    with open(repo / "rtl" / "huge.v", "w") as f:
        f.write("module huge_line(")
        for _ in range(200):
            f.write(chunk)
        f.write("z); endmodule")


def port_repetitions(repo, outside):
    (repo / "rtl" / "ports.v").write_text("module port_bomb (" + "port(" * 1_000_000 + "\n")
    (repo / "rtl" / "ports.vhd").write_text("entity port_bomb_vhd is\n" + "port(" * 1_000_000 + "\n")


def nested_dirs(repo, outside):
    deep = repo / "rtl" / "/".join(["d"] * 500)
    deep.mkdir(parents=True)
    (deep / "deep_leaf.v").write_text("// Leaf five hundred directories down.\nmodule deep_leaf(input a); endmodule\n")


def many_empty_files(repo, outside):
    for d in range(100):
        sub = repo / "rtl" / "empty" / f"d{d:02}"
        sub.mkdir(parents=True)
        for i in range(1000):
            os.close(os.open(sub / f"e{i:03}.v", os.O_CREAT | os.O_WRONLY, 0o644))


def odd_file_names(repo, outside):
    rtl = repo / "rtl"
    (rtl / "with space.v").write_text("module spaced(input a); endmodule\n")
    (rtl / "new\nline.v").write_text("module newlined(input a); endmodule\n")
    (rtl / "tab\tand\rcr.v").write_text("module tabbed(input a); endmodule\n")
    (rtl / "ünï cödé.vhd").write_text("entity unicode_named is end entity;\n")
    with open(os.path.join(os.fsencode(rtl), b"bad\xff\xfe name.v"), "w") as f:
        f.write("module badbytes(input a); endmodule\n")
    with open(os.path.join(os.fsencode(rtl), b"\xc3(.vhd"), "w") as f:
        f.write("entity badbytes_vhd is end entity;\n")


def regex_metacharacters(repo, outside):
    rtl = repo / "rtl"
    (rtl / "a$b.v").write_text("// Dollar unit.\nmodule a$b(input a); endmodule\n")
    (rtl / "x.y.v").write_text("// Dotted unit.\nmodule \\x.y (input a); endmodule\n")
    (rtl / "meta.v").write_text(
        "module \\(a|b)*+? (input a); endmodule\nmodule \\[z-a] (input a); endmodule\n"
        "module \\q\\E.* (input a); endmodule\nmodule user_of_meta(input a); a$b u0(.a(a)); endmodule\n")
    (rtl / "ext.vhd").write_text("entity \\a$b.c\\ is end entity;\n")


def nul_and_invalid_utf8(repo, outside):
    (repo / "rtl" / "nul.v").write_bytes(
        b"// Header with \x00 a NUL and \xff\xfe bytes.\nmodule nul_mod(input \x00a, output \xc0b);\x00\nendmodule\n")
    (repo / "rtl" / "bad.vhd").write_bytes(
        b"-- \xed\xa0\x80 surrogate and \xf4\x90\x80\x80 beyond range\nentity bad_utf8 is port (\xff : in bit);"
        b" end entity;\n")
    (repo / "rtl" / "nul_only.sv").write_bytes(b"\x00" * 4096)


def self_instantiation(repo, outside):
    (repo / "rtl" / "selfie.v").write_text(
        "// Recursive tree of itself.\nmodule selfie(input a); selfie u0(.a(a)); endmodule\n")
    (repo / "rtl" / "ping.v").write_text("module ping_unit(input a); pong_unit u0(.a(a)); endmodule\n")
    (repo / "rtl" / "pong.v").write_text("module pong_unit(input a); ping_unit u0(.a(a)); endmodule\n")
    (repo / "rtl" / "loop.vhd").write_text(
        "entity vloop is end entity;\narchitecture rtl of vloop is\nbegin\n"
        "  u0: entity work.vloop;\nend architecture;\n")


def deep_instantiation_chain(repo, outside):
    """chain_00000 -> chain_00001 -> ... -> chain_09999, a hundred levels per file.

    Each unit's compile list names every file below it, so one file per level would make
    the rows themselves quadratic (fifty million paths)."""
    n, per_file = 10_000, 100
    (repo / "rtl" / "chain").mkdir()
    for first in range(0, n, per_file):
        with open(repo / "rtl" / "chain" / f"c{first // per_file:03}.v", "w") as f:
            for i in range(first, first + per_file):
                below = f" chain_{i + 1:05} u(.a(a));" if i + 1 < n else ""
                f.write(f"module chain_{i:05}(input a);{below} endmodule\n")


def chain_one_module_per_file(repo, outside):
    """The same chain with one module per file: the rows are quadratic (fifty million paths,
    1.5 GB of JSON with --granularity top as with all), so only their making and writing is
    bounded, in time and in memory that must not hold them."""
    (repo / "rtl" / "chain").mkdir()
    for i in range(CHAIN_DEPTH):
        below = f" chain_{i + 1:05} u(.a(a));" if i + 1 < CHAIN_DEPTH else ""
        (repo / "rtl" / "chain" / f"c{i:05}.v").write_text(f"module chain_{i:05}(input a);{below} endmodule\n")


CHAIN_DEPTH = 10_000


def units_in_one_file(repo, outside):
    """Ten thousand modules, each instantiating the next, in a single file: every unit asks
    the same file-wide questions (header, ports, declarations) and walks the whole file."""
    with open(repo / "rtl" / "netlist.v", "w") as f:
        f.write("// A generated netlist.\n")
        for i in range(10_000):
            below = f" cell_{i + 1:05} u(.a(a), .y(y));" if i + 1 < 10_000 else " assign y = a;"
            f.write(f"module cell_{i:05}(input a, output y);{below} endmodule\n")


def binary_garbage(repo, outside):
    rng = random.Random(8)
    for name in ("garbage.vhd", "garbage.v", "garbage.sv"):
        (repo / "rtl" / name).write_bytes(rng.randbytes(1 << 20))


def directories_named_like_sources(repo, outside):
    for rel in ("rtl/x.v", "rtl/y.vhd/z.sv", "README.md", "LICENSE/COPYING"):
        (repo / rel).mkdir(parents=True)


PUNCTUATION_MIB = 60


def punctuation_vhdl(repo, outside):
    """A .vhd of nothing but ";": a token per byte."""
    (repo / "rtl" / "semi.vhd").write_bytes(b";" * (PUNCTUATION_MIB << 20))


def punctuation_verilog(repo, outside):
    (repo / "rtl" / "semi.v").write_bytes(b";" * (PUNCTUATION_MIB << 20))


def sparse_gigabyte(repo, outside):
    """1 GiB of NUL bytes that take no disk: over the size limit of a read."""
    with open(repo / "rtl" / "zeros.v", "wb") as f:
        f.truncate(1 << 30)


def links_to_one_source(repo, outside):
    """A thousand links to one 1 MiB source: one read, one scan of it."""
    rtl = repo / "rtl"
    body = "".join(f"  wire [7:0] w{i} = d ^ 8'h{i % 256:02x};\n" for i in range(30_000))
    (rtl / "wide.v").write_text("// Wide xor bank.\nmodule wide(input [7:0] d);\n" + body + "endmodule\n")
    (rtl / "links").mkdir()
    for i in range(1000):
        (rtl / "links" / f"l{i:04}.v").symlink_to("../wide.v")


def licence_one_long_line(repo, outside):
    """A LICENSE of one 928 KiB line that keeps starting the same licence patterns."""
    phrase = "Creative Commons Attribution "
    (repo / "LICENSE").write_text(phrase * ((928 << 10) // len(phrase)))


def include_maze(repo, outside):
    """Includes in a cycle, of a device, of files outside the repository, ten thousand deep, and a
    library-qualified instance of a library that does not exist."""
    rtl = repo / "rtl"
    (rtl / "inc").mkdir()
    (rtl / "inc" / "a.vh").write_text('`include "b.vh"\n')
    (rtl / "inc" / "b.vh").write_text('`include "a.vh"\n')
    (rtl / "deep").mkdir()
    for i in range(10_000):
        (rtl / "deep" / f"h{i:05}.vh").write_text(f'`include "h{i + 1:05}.vh"\n' if i + 1 < 10_000 else "\n")
    (rtl / "maze.v").write_text(
        '`include "a.vh"\n`include "/dev/zero"\n`include "../../outside/secret.v"\n'
        f'`include "{outside / "x.v"}"\n`include "h00000.vh"\nmodule maze(input a); endmodule\n')
    (rtl / "nolib.vhd").write_text(
        "entity nolib_user is end entity;\narchitecture rtl of nolib_user is\nbegin\n"
        "  u0: entity no_such_lib.nothing_here;\nend architecture;\n")


def tools_reading_outside(repo, outside):
    """Includes and links that would have a tool read, and quote, text outside the repository."""
    (outside / "leak.vh").write_text(f"assign {CANARY_WORD} = 1'b1;\n")
    (outside / "leak_unit.v").write_text(f"module leak_unit(input a); assign {CANARY_WORD} = a; endmodule\n")
    rtl = repo / "rtl"
    (rtl / "rel.v").write_text('module rel_inc(input a);\n`include "../../outside/leak.vh"\nendmodule\n')
    (rtl / "abs.v").write_text(f'module abs_inc(input a);\n`include "{outside / "leak.vh"}"\nendmodule\n')
    (rtl / "linked.vh").symlink_to(outside / "leak.vh")
    (rtl / "via_link.v").write_text('module via_link(input a);\n`include "linked.vh"\nendmodule\n')
    (rtl / "leak_unit.v").symlink_to(outside / "leak_unit.v")
    (rtl / "user.v").write_text("module leak_user(input a); leak_unit u(.a(a)); endmodule\n")
    (rtl / "out").symlink_to(outside)
    (rtl / "through.v").write_text('module through_dir(input a);\n`include "out/leak.vh"\nendmodule\n')


def control_characters_in_names(repo, outside):
    """Module, include and file names that would retitle the window, clear the screen or start
    a C1 control sequence on the terminal that shows the progress and the notes."""
    rtl = repo / "rtl"
    (rtl / "esc.v").write_text(
        "module \\title\x1b]2;owned\x07 (input a); endmodule\n"
        "module \\clear\x1b[2J (input a); endmodule\n"
        "module \\csi\u009b2J (input a); endmodule\n"
        '`include "\x1b[2J\u009b.vh"\nmodule inc_esc(input a); endmodule\n')
    (rtl / "name\x1b[2J\u009b.v").write_text("module file_esc(input a); endmodule\n")


CASES = [link_loops, links_outside, links_dev_zero, fifos, huge_single_line, port_repetitions, nested_dirs,
         many_empty_files, odd_file_names, regex_metacharacters, nul_and_invalid_utf8, self_instantiation,
         deep_instantiation_chain, chain_one_module_per_file, units_in_one_file, binary_garbage, directories_named_like_sources,
         punctuation_vhdl, punctuation_verilog, sparse_gigabyte, links_to_one_source, licence_one_long_line,
         include_maze, tools_reading_outside, control_characters_in_names]
# The repository row is where a README or licence from outside would surface.
REPO_ROW_CASES = {links_outside, links_dev_zero, fifos, directories_named_like_sources, licence_one_long_line}
# Cases with a tighter memory bound: one large source costs at most half its size again.
MEMORY_LIMITS_MIB = {punctuation_vhdl: 1.5 * PUNCTUATION_MIB + 64, punctuation_verilog: 1.5 * PUNCTUATION_MIB + 64,
                     chain_one_module_per_file: 1.5 * 1 + 64}  # under a megabyte of sources
# Cases scanned at another granularity than "all".
GRANULARITIES = {chain_one_module_per_file: "top"}
# Cases whose rows are too many to load: checked as they lie in the file, through quarrix-scan
# only (the binding returns every row at once).
HUGE_OUTPUT_CASES = {chain_one_module_per_file}


# ---------------------------------------------------------------- fixtures and checks

_built = {}


def build(name, builder, factory):
    """The case's repository, built once for both modes; earlier cases' trees are removed."""
    if name not in _built:
        for old in list(_built):
            shutil.rmtree(_built.pop(old), ignore_errors=True)
        work = factory.mktemp(name)
        repo = work / "repo"
        write_benign(repo)
        write_outside(work / "outside")
        if builder:
            builder(repo, work / "outside")
        _built[name] = work
    return _built[name]


def record(case, mode, granularity, run):
    line = f"{case:32} {mode:6} {granularity:4} {run.seconds:7.2f} s {run.peak_mib:7.1f} MiB rc={run.returncode}"
    print(line)
    if os.environ.get("QUARRIX_HOSTILE_REPORT"):
        with open(os.environ["QUARRIX_HOSTILE_REPORT"], "a") as f:
            f.write(line + "\n")


def first_rows_of_clean_file(path, count):
    """The first `count` rows of the JSON array in `path`, read after checking, a chunk at a
    time, that no part of the file holds the canary or the leaked unit and that the array ends."""
    markers = (CANARY.encode(), LEAKED_UNIT.encode())
    overlap = max(len(m) for m in markers) - 1
    with open(path, "rb") as f:
        tail = b""
        while chunk := f.read(1 << 24):
            window = tail + chunk
            assert not any(m in window for m in markers)
            tail = window[-overlap:]
        assert tail.endswith(b"\n]\n")
        f.seek(0)
        head = f.read(1 << 20).decode()
    decoder = json.JSONDecoder()
    rows, at = [], head.index("[") + 1
    while len(rows) < count:
        at = len(head) - len(head[at:].lstrip(" \n,"))
        row, at = decoder.raw_decode(head, at)
        rows.append(row)
    return rows


def checked_scan(case, mode, work, granularity, memory_limit_mib=MEMORY_LIMIT_MIB, head_rows=None):
    """The rows of a bounded scan; with head_rows, only that many first rows."""
    run = scan(mode, work / "repo", work, granularity, read_output=head_rows is None)
    record(case, mode, granularity, run)
    assert run.returncode == 0, run.stderr
    time_limit = TOOLS_TIME_LIMIT_S if mode.startswith("cli-tools") else TIME_LIMIT_S
    assert run.seconds <= time_limit, f"{case}: {run.seconds:.1f} s"
    assert run.peak_mib <= memory_limit_mib, f"{case}: {run.peak_mib:.0f} MiB"
    assert run.survivors == [], f"{case}: tool processes outlived the scan"
    cache = run.cache.decode("latin-1")
    for where, text in (("rows", run.output), ("report", run.report), ("stderr", run.stderr), ("cache", cache)):
        for secret in (CANARY, CANARY_WORD, LEAKED_UNIT):
            assert secret not in text, f"{case}: {secret} in the {where}"
    # Whatever the names hold, what a terminal may show carries no control character.
    assert not RAW_CONTROLS.search(run.stderr), f"{case}: {run.stderr[-300:]!r}"
    assert not RAW_C1.search(run.output + run.report)
    if head_rows is not None:
        out = work / f"rows-{mode}-{granularity}.json"
        try:
            return first_rows_of_clean_file(out, head_rows)
        finally:
            out.unlink()
    return json.loads(run.output)


_baselines = {}


def baseline(mode, factory):
    if mode not in _baselines:
        work = factory.mktemp("benign")
        write_benign(work / "repo")
        _baselines[mode] = {g: json.loads(scan(mode, work / "repo", work, g).output)
                            for g in ("all", "repo", "top")}
        assert [r["name"] for r in _baselines[mode]["all"]] == list(BENIGN_UNITS)
    return _baselines[mode]


RAW_CONTROLS = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")
RAW_C1 = re.compile("[\x80-\x9f]")
HDL_TOOLS = ("ghdl", "verilator", "iverilog")
# Cases about what the tools may read, also run with one check at a time.
ONE_JOB_CASES = {links_outside, include_maze, tools_reading_outside, control_characters_in_names}


def hostile_params():
    for case in CASES:
        modes = ("cli",) if case in HUGE_OUTPUT_CASES else (
            ("inproc", "cli", "cli-tools") + (("cli-tools-j1",) if case in ONE_JOB_CASES else ()))
        for mode in modes:
            yield pytest.param(case, mode, id=f"{case.__name__}-{mode}")


@pytest.mark.parametrize("builder,mode", hostile_params())
def test_hostile_repository(builder, mode, tmp_path_factory):
    if mode.startswith("cli") and not scanner_path():
        pytest.skip("quarrix-scan is neither on PATH nor named by QUARRIX_SCAN")
    if mode.startswith("cli-tools") and not all(shutil.which(tool) for tool in HDL_TOOLS):
        pytest.skip("the tools case needs ghdl, verilator and iverilog on PATH (scripts/install-deps.sh)")
    case = builder.__name__
    work = build(case, builder, tmp_path_factory)
    expected = baseline(mode, tmp_path_factory)

    granularity = GRANULARITIES.get(builder, "all")
    # The benign units' names sort before the hostile ones'.
    head_rows = len(expected[granularity]) if builder in HUGE_OUTPUT_CASES else None
    rows = checked_scan(case, mode, work, granularity, MEMORY_LIMITS_MIB.get(builder, MEMORY_LIMIT_MIB), head_rows)
    by_name = {r["name"]: r for r in rows}
    for benign in expected[granularity]:
        assert by_name.get(benign["name"]) == benign, benign["name"]

    if builder in REPO_ROW_CASES:
        assert checked_scan(case, mode, work, "repo") == expected["repo"]


def test_links_inside_the_repository_keep_working(tmp_path):
    """A README and a source that link to files inside the repository are read as usual."""
    repo = tmp_path / "repo"
    write_benign(repo)
    (repo / "docs").mkdir()
    (repo / "docs" / "intro.md").write_text("A small packet buffer with a control block.\n")
    (repo / "README.md").symlink_to("docs/intro.md")
    (repo / "LICENSE").symlink_to(os.path.abspath(repo / "docs" / "COPYING"))
    (repo / "docs" / "COPYING").write_text("MIT License\n")
    (repo / "vendor").mkdir()
    (repo / "vendor" / "linked_leaf.v").write_text(
        "// Leaf cell that registers its single input on each clock edge.\nmodule linked_leaf(input a); endmodule\n")
    (repo / "rtl" / "linked_leaf.v").symlink_to("../vendor/linked_leaf.v")
    # A link that leaves the repository and comes back in resolves inside it.
    (repo / "vendor" / "back_in.v").write_text(
        "// Returning cell that mirrors its input back to the caller.\nmodule back_in(input a); endmodule\n")
    (repo / "rtl" / "back_in.v").symlink_to(f"../../{repo.name}/vendor/back_in.v")
    rows = json.loads(scan("inproc", repo, tmp_path).output)
    leaf = next(r for r in rows if r["name"] == "linked_leaf")
    assert leaf["description"] == "Leaf cell that registers its single input on each clock edge."
    assert leaf["license"] == "MIT"
    back_in = next(r for r in rows if r["name"] == "back_in")
    assert back_in["description"] == "Returning cell that mirrors its input back to the caller."
    [repo_row] = json.loads(scan("inproc", repo, tmp_path, "repo").output)
    assert repo_row["description"] == "A small packet buffer with a control block."


@pytest.mark.parametrize("tools", [False, True], ids=["no-tools", "tools"])
@pytest.mark.parametrize("mode", ["builtin", "cli"])
def test_builtin_probes_read_only_inside_the_repository(mode, tools, tmp_path):
    """The built-in probes, handed to scan_repo by a Python host or run by quarrix-scan, read under
    the scan's confinement: a package reached only through a link outside names no library."""
    if mode == "cli" and not scanner_path():
        pytest.skip("quarrix-scan is neither on PATH nor named by QUARRIX_SCAN")
    repo = tmp_path / "repo"
    write_benign(repo)
    write_outside(tmp_path / "outside")
    (tmp_path / "outside" / "secret_pkg.vhd").write_text(f"-- {CANARY}\npackage secret_pkg is\nend package;\n")
    (repo / "rtl" / "pkg.vhd").symlink_to(tmp_path / "outside" / "secret_pkg.vhd")
    (repo / "rtl" / "user.vhd").write_text(
        "library canarylib;\nuse canarylib.secret_pkg.all;\nentity canary_user is\nend entity;\n"
        "architecture rtl of canary_user is\nbegin\nend architecture;\n")
    run = scan(mode, repo, tmp_path, tools=tools)
    assert run.returncode == 0, run.stderr
    assert CANARY not in run.output
    rows = {r["name"]: r for r in json.loads(run.output)}
    assert rows["canary_user"]["quarrix_compat"]["library"] == "work"


def test_files_that_change_during_a_scan(tmp_path):
    """A source that keeps turning into a FIFO, a link outside, nothing and back while scans run:
    every scan ends cleanly and none publishes the canary."""
    repo = tmp_path / "repo"
    write_benign(repo)
    write_outside(tmp_path / "outside")
    shifty = repo / "rtl" / "shifty.v"
    stop = threading.Event()

    def churn():
        rng = random.Random(5)
        step = 0
        while not stop.is_set():
            try:
                if shifty.is_symlink() or shifty.exists():
                    shifty.unlink()
                if step % 4 == 0:
                    shifty.write_text("// Shifting unit.\nmodule shifty(input a); endmodule\n")
                elif step % 4 == 1:
                    os.mkfifo(shifty)
                elif step % 4 == 2:
                    shifty.symlink_to(tmp_path / "outside" / "secret.v")
            except OSError:
                pass
            step += 1
            time.sleep(rng.random() / 500)

    thread = threading.Thread(target=churn)
    thread.start()
    try:
        for mode in ["inproc"] * 10 + (["cli"] * 10 if scanner_path() else []):
            run = scan(mode, repo, tmp_path)
            assert run.returncode == 0, run.stderr
            assert CANARY not in run.output and LEAKED_UNIT not in run.output
    finally:
        stop.set()
        thread.join()


def test_progress_on_a_terminal_shows_names_escaped(tmp_path):
    """Terminal mode rewrites its line with "\\r\\x1b[K"; no other control from a name reaches it."""
    if not scanner_path():
        pytest.skip("quarrix-scan is neither on PATH nor named by QUARRIX_SCAN")
    import pty
    repo = tmp_path / "repo"
    write_benign(repo)
    control_characters_in_names(repo, tmp_path / "outside")
    master, slave = pty.openpty()
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    proc = subprocess.Popen([scanner_path(), str(repo), "--granularity", "all", "--no-llm", "--no-verify"],
                            stdout=subprocess.PIPE, stderr=slave, env=env)
    os.close(slave)
    shown = bytearray()
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    os.close(master)
    rows, _ = proc.communicate(timeout=60)
    assert proc.returncode == 0
    text = shown.decode("utf-8", errors="replace")
    assert "title\\x1b]2;owned\\x07" in text  # the names are there, written visibly
    assert not re.search("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f]", text.replace("\r\x1b[K", ""))
    assert not RAW_C1.search(rows.decode()) and "\\u009b" in rows.decode()


def test_parallel_checks_read_only_inside_the_repository(tmp_path):
    """Under strace, no thread of the scan (nor a sandboxed tool) opens a file outside the
    repository, with one check at a time or two."""
    strace = shutil.which("strace")
    if not (scanner_path() and strace and all(shutil.which(tool) for tool in HDL_TOOLS)):
        pytest.skip("needs quarrix-scan, strace and the HDL tools")
    work = tmp_path
    repo = work / "repo"
    write_benign(repo)
    write_outside(work / "outside")
    tools_reading_outside(repo, work / "outside")
    links_outside(repo, work / "outside")
    outside = str((work / "outside").resolve())
    for jobs in ("1", "2"):
        log = work / f"strace-{jobs}.log"
        proc = subprocess.run([strace, "-f", "-qq", "-e", "trace=open,openat,openat2", "-e", "status=successful",
                               "-o", str(log), scanner_path(), str(repo), "--no-llm", "-q", "--no-cache",
                               "--jobs", jobs, "--tool-budget", "60"], capture_output=True, text=True, timeout=240)
        assert proc.returncode == 0, proc.stderr
        opened = [line for line in log.read_text(errors="replace").splitlines() if outside in line]
        assert opened == [], f"--jobs {jobs}: {opened[:3]}"


def test_a_source_with_a_latin1_byte_gives_its_unit(tmp_path):
    if not scanner_path():
        pytest.skip("quarrix-scan is neither on PATH nor named by QUARRIX_SCAN")
    repo = tmp_path / "repo"
    write_benign(repo)
    (repo / "rtl" / "latin1.v").write_bytes(b"// Caf\xe9 controller.\nmodule cafe(input a); endmodule\n")
    report = tmp_path / "report.json"
    # With the tools and two jobs, a first pass records the checks: it must report nothing itself.
    proc = subprocess.run([scanner_path(), str(repo), "-q", "--no-llm", "--jobs", "2", "--no-cache", "--report",
                           str(report)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    doc = json.loads(report.read_text())
    assert [u["name"] for u in doc["units"]].count("cafe") == 1
    assert "rtl/latin1.v" not in [entry["path"] for entry in doc["left_out"]]
    assert "cafe" in [row["name"] for row in json.loads(proc.stdout)]
