"""Tool checks with GHDL, Verilator or Icarus on PATH: what they may read, what the cache answers
for, and what a scan that is interrupted leaves behind."""

import json
import os
import pathlib
import shutil
import signal
import subprocess
import time

import pytest

from test_hostile import CANARY_WORD, tools_reading_outside, write_outside

PROVIDER_KEYS = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")
needs_verilog_tool = pytest.mark.skipif(not (shutil.which("verilator") or shutil.which("iverilog")),
                                        reason="no Verilog tool on PATH")


def scan_env(tmp_path, **extra):
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env["XDG_CACHE_HOME"] = str(tmp_path / "xdg-cache")
    env.update(extra)
    return env


def rows_of(scanner, repo, env, *args):
    out = subprocess.run([scanner, repo, "-q", "--no-llm", "--granularity", "all", *map(str, args)],
                         capture_output=True, text=True, env=env, timeout=300)
    assert out.returncode == 0, out.stderr
    return {r["name"]: r["verified"] for r in json.loads(out.stdout)}


def header_repo(tmp_path):
    """hdr_user.v includes a.vh (in rtl/inc, found by the scan), which includes b.inc: a file the scan
    never reads, found only by the tool's own include search."""
    repo = tmp_path / "repo"
    (repo / "rtl" / "inc").mkdir(parents=True)
    (repo / "rtl" / "hdr_user.v").write_text('`include "a.vh"\nmodule hdr_user(input a, output y); assign y = a; endmodule\n')
    (repo / "rtl" / "inc" / "a.vh").write_text('`include "b.inc"\n')
    (repo / "rtl" / "inc" / "good.inc").write_text("`define B_OK 1\n")
    (repo / "rtl" / "inc" / "bad.inc").write_text("this is not verilog (\n")
    (repo / "rtl" / "inc" / "b.inc").write_text("`define B_OK 1\n")
    return repo


def retarget(path, target):
    path.unlink()
    path.symlink_to(target)


@needs_verilog_tool
def test_cached_answers_follow_every_way_a_header_can_change(scanner, tmp_path):
    """Each change is scanned with the cache at --jobs 1 and --jobs 4 and without it: the three agree."""
    repo = header_repo(tmp_path)
    b = repo / "rtl" / "inc" / "b.inc"
    outside = tmp_path / "outside.inc"
    outside.write_text("`define B_OK 1\n")
    changes = [
        ("content", lambda: b.write_text("this is not verilog (\n")),
        ("content back", lambda: b.write_text("`define B_OK 1\n")),
        ("link to a good header", lambda: retarget(b, "good.inc")),
        ("link retargeted", lambda: retarget(b, "bad.inc")),
        ("link back", lambda: retarget(b, "good.inc")),
        # Found in an include directory searched before rtl/inc, present or not at the first scan.
        ("shadowed", lambda: (repo / "rtl" / "b.inc").write_text("this is not verilog (\n")),
        ("shadow gone", lambda: (repo / "rtl" / "b.inc").unlink()),
        # A link out of the repository: the tools must not read it, and the cache must not care.
        ("link outside", lambda: retarget(b, outside)),
        ("outside changed", lambda: outside.write_text("this is not verilog (\n")),
    ]
    env = scan_env(tmp_path)
    seen = set()
    for what, change in [("first", lambda: None), *changes]:
        change()
        truth = rows_of(scanner, repo, env, "--no-cache")
        for jobs in (1, 4):
            cached = rows_of(scanner, repo, env, "--jobs", jobs, "--cache-dir", tmp_path / "cache")
            assert cached == truth, f"{what}, --jobs {jobs}"
        seen.add(truth["hdr_user"])
    assert seen == {True, False}  # the changes do change the verdict


def outside_repo(tmp_path):
    """The hostile suite's repository whose includes and links lead out to text a tool would quote."""
    repo, outside = tmp_path / "repo", tmp_path / "outside"
    (repo / "rtl").mkdir(parents=True)
    write_outside(outside)
    tools_reading_outside(repo, outside)
    return repo


def tools_without_sandbox(tmp_path):
    """A PATH holding the HDL tools and what they need, but no bwrap."""
    bin_dir = tmp_path / "bin-no-sandbox"
    bin_dir.mkdir()
    for name in ("verilator", "verilator_bin", "iverilog", "ghdl", "perl", "true", "sh"):
        if found := shutil.which(name):
            (bin_dir / name).symlink_to(found)
    return str(bin_dir)


@needs_verilog_tool
@pytest.mark.parametrize("sandbox", [True, False], ids=["sandbox", "no-sandbox"])
@pytest.mark.parametrize("jobs", [1, 2])
def test_tools_publish_nothing_from_outside_the_repository(scanner, tmp_path, sandbox, jobs):
    if sandbox and not shutil.which("bwrap"):
        pytest.skip("no bwrap on PATH")
    repo = outside_repo(tmp_path)
    env = scan_env(tmp_path)
    if not sandbox:
        env["PATH"] = tools_without_sandbox(tmp_path)
    report = tmp_path / "report.json"
    out = subprocess.run([scanner, repo, "--no-llm", "--granularity", "all", "--jobs", str(jobs), "--report", report,
                          "--tool-budget", "60", "--cache-dir", tmp_path / "cache"],
                         capture_output=True, text=True, env=env, timeout=240)
    assert out.returncode == 0, out.stderr
    assert ("no sandbox for the HDL tools" in out.stderr) == (not sandbox)
    cache_bytes = (tmp_path / "cache" / "tools.sqlite").read_bytes()
    for where, text in (("rows", out.stdout), ("stderr", out.stderr), ("report", report.read_text()),
                        ("cache", cache_bytes.decode("latin-1"))):
        assert CANARY_WORD not in text, where
    leading_out = ("rel_inc", "abs_inc", "via_link", "through_dir")
    rows = {r["name"]: r for r in json.loads(out.stdout)}
    assert not any(rows[name]["verified"] for name in leading_out if name in rows)
    if not sandbox:
        runs = {u["name"]: u["tool_runs"] for u in json.loads(report.read_text())["units"]}
        assert all(r["verdict"] == "not started" for name in leading_out[:3] for r in runs[name])


def test_an_interrupted_scan_fails_and_writes_nothing(scanner, tmp_path):
    tools = tmp_path / "tools"
    tools.mkdir()
    started = tmp_path / "started"
    (tools / "verilator").write_text(
        f'#!/bin/sh\n[ "$1" = "--version" ] && {{ echo "verilator 0.0"; exit 0; }}\n'
        f'echo $$ >> "{started}"\nexec /bin/sleep 60\n')
    (tools / "verilator").chmod(0o755)
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    for i in range(3):
        (repo / "rtl" / f"unit{i}.v").write_text(f"module unit{i}(input a); endmodule\n")
    output = tmp_path / "rows.json"
    for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143), (signal.SIGHUP, 129)):
        output.write_text("earlier rows\n")
        started.unlink(missing_ok=True)
        proc = subprocess.Popen([scanner, repo, "--no-llm", "--jobs", "2", "-o", output, "--report",
                                 tmp_path / "report.json", "--cache-dir", tmp_path / "cache"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=scan_env(tmp_path, PATH=str(tools)))
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not started.exists():
            time.sleep(0.05)
        proc.send_signal(sig)
        _, err = proc.communicate(timeout=30)
        assert proc.returncode == status, err
        assert err.splitlines()[-1] == f"quarrix-scan: interrupted by SIG{sig.name[3:]}; no output written"
        assert err.count("interrupted") == 1
        assert output.read_text() == "earlier rows\n"
        assert not (tmp_path / "report.json").exists()
        assert [p for p in tmp_path.iterdir() if p.name.startswith(".rows.json")] == []
    # Nothing the stopped tools answered was kept: a full scan runs every check.
    (tools / "verilator").write_text('#!/bin/sh\n[ "$1" = "--version" ] && { echo "verilator 0.0"; exit 0; }\nexit 0\n')
    rows = json.loads(subprocess.run([scanner, repo, "-q", "--no-llm", "--cache-dir", tmp_path / "cache"],
                                     capture_output=True, text=True, env=scan_env(tmp_path, PATH=str(tools)),
                                     timeout=60).stdout)
    assert [r["verified"] for r in rows] == [True, True, True]


@needs_verilog_tool
def test_a_header_outside_the_source_roots_is_found_and_given_to_the_tool(tmp_path, scanner):
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    (repo / "vendor" / "cfg").mkdir(parents=True)
    (repo / "rtl" / "uses_cfg.v").write_text(
        '`include "bus_cfg.vh"\nmodule uses_cfg(input [`BUS_W-1:0] a, output [`BUS_W-1:0] y); assign y = a; endmodule\n')
    (repo / "vendor" / "cfg" / "bus_cfg.vh").write_text("`define BUS_W 8\n")
    out = subprocess.run([scanner, repo, "-q", "--no-llm", "--no-cache"], capture_output=True, text=True,
                         env=scan_env(tmp_path), timeout=300)
    assert out.returncode == 0, out.stderr
    row, = json.loads(out.stdout)
    assert row["quarrix_compat"]["files"] == ["vendor/cfg/bus_cfg.vh", "rtl/uses_cfg.v"]
    assert row["verified"] is True
