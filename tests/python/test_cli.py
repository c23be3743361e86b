"""quarrix-scan end to end: formats, options, exit codes and bad input."""

import http.server
import json
import os
import pathlib
import pty
import re
import resource
import shutil
import signal
import stat
import subprocess
import threading
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo_repo"
DEMO_TOPS = ["fifo_sync", "ram_dp", "spi_master", "uart_rx", "uart_top", "uart_tx"]
ROW_KEYS = ["name", "namespace", "source", "quarrix_compat", "description", "desc_source", "license", "dep_count",
            "vhdl_standard", "vendor_deps", "verified", "badges", "test_info", "tags", "role"]
PROVIDER_KEYS = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")


@pytest.fixture()
def run(scanner, tmp_path):
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env["XDG_CACHE_HOME"] = str(tmp_path / "xdg-cache")  # each test starts with no tool results kept

    def run_(*args, **kwargs):
        kwargs.setdefault("timeout", 300)
        return subprocess.run([scanner, *map(str, args)], capture_output=True, text=True, env=env, **kwargs)
    return run_


def names(rows):
    return [r["name"] for r in rows]


def test_json_and_jsonl_give_the_same_rows_in_key_order(run):
    as_json = run(DEMO)
    assert as_json.returncode == 0, as_json.stderr
    rows = json.loads(as_json.stdout)
    assert names(rows) == DEMO_TOPS
    assert all(list(r)[:len(ROW_KEYS)] == ROW_KEYS for r in rows)
    assert {r["namespace"] for r in rows} == {"demo_repo"}
    # Not a git checkout of its own: no identity is invented.
    assert rows[0]["source"] == {"type": "git", "url": "", "tag": "", "ip_yml_path": "."}
    by_name = {r["name"]: r for r in rows}
    # The header uart_tx.v includes defines the macros uart_rx.v uses: it comes first.
    assert by_name["uart_top"]["quarrix_compat"]["files"] == [
        "rtl/uart/uart_defs.vh", "rtl/uart/uart_rx.v", "rtl/uart/uart_tx.v", "rtl/uart/uart_top.v"]
    assert by_name["uart_top"]["verified"] is bool(shutil.which("verilator") or shutil.which("iverilog"))
    assert by_name["spi_master"]["vhdl_standard"] in ("vhdl-2008", "unknown")
    assert re.fullmatch(r"(quarrix-scan: note: .* not on PATH: .*\n)?"
                        r"quarrix-scan: 7 entities, 6 kept, 1 skipped; 6 rows in \d+\.\d s\n", as_json.stderr)

    as_jsonl = run(DEMO, "--format", "jsonl", "--quiet")
    assert as_jsonl.returncode == 0 and as_jsonl.stderr == ""
    lines = as_jsonl.stdout.splitlines()
    assert [json.loads(line) for line in lines] == rows


def test_tools_verify_the_demo_when_installed(run):
    rows = json.loads(run(DEMO, "-q").stdout)
    verilog_tool = shutil.which("verilator") or shutil.which("iverilog")
    for row in rows:
        language = row["quarrix_compat"]["language"]
        expected = bool(verilog_tool) if language in ("verilog", "systemverilog") else bool(shutil.which("ghdl"))
        assert row["verified"] is expected, row["name"]
        assert ("verified" in row["badges"]) is expected


def test_identity_granularity_and_excludes(run, tmp_path):
    out = run(DEMO, "--namespace", "acme", "--url", "https://example.org/acme/demo.git", "--tag", "v2",
              "--commit", "abc123", "--granularity=repo", "-q")
    assert out.returncode == 0, out.stderr
    (row,) = json.loads(out.stdout)
    assert (row["name"], row["namespace"], row["role"]) == ("demo", "acme", "repo")
    assert row["source"]["url"] == "https://example.org/acme/demo.git" and row["source"]["tag"] == "v2"
    assert row["hdl"]["vendor_variants"] == {"generic": ["rtl/TECH/ram_dp.v"], "xilinx": ["rtl/TECH/xilinx/ram_dp.v"]}
    assert "rtl/TECH/ram_dp.v" not in row["quarrix_compat"]["files"]

    every = json.loads(run(DEMO, "--granularity", "all", "-q").stdout)
    assert names(every) == DEMO_TOPS  # the demo has no primitives
    kept = json.loads(run(DEMO, "--exclude", "uart_*", "--exclude", "fifo_sync.sv", "-q").stdout)
    assert names(kept) == ["ram_dp", "spi_master"]


def test_output_file_previous_and_verdicts(run, tmp_path):
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    (repo / "rtl" / "zq.v").write_text("module zq(input a, output b);\nassign b = a;\nendmodule\n")
    (repo / "rtl" / "yq.v").write_text("module yq(input a, output b);\nassign b = a;\nendmodule\n")

    first = tmp_path / "rows.jsonl"
    out = run(repo, "--format", "jsonl", "-o", first)
    assert out.returncode == 0 and out.stdout == ""
    assert [r["desc_source"] for r in map(json.loads, first.read_text().splitlines())] == ["auto", "auto"]

    # An earlier output (rows) and a plain map both feed the preserved tier.
    earlier = [{"name": "zq", "description": "Passes one signal through unchanged."}]
    (tmp_path / "earlier.json").write_text(json.dumps(earlier))
    (tmp_path / "map.json").write_text(json.dumps({"yq": "Copies its input to its output."}))
    (tmp_path / "earlier.jsonl").write_text(json.dumps(earlier[0]) + "\n\n" + json.dumps({"name": "yq"}) + "\n")
    for previous, name in (("earlier.json", "zq"), ("map.json", "yq"), ("earlier.jsonl", "zq")):
        rows = {r["name"]: r for r in json.loads(run(repo, "--previous", tmp_path / previous, "-q").stdout)}
        assert rows[name]["desc_source"] == "preserved"

    index = tmp_path / "index"
    index.mkdir()
    (index / "descriptions_verdicts.json").write_text(json.dumps(
        {"entries": {"repo/zq": {"verdict": "good", "locked_text": "A curated sentence about zq."}}}))
    rows = {r["name"]: r for r in json.loads(run(repo, "--verdicts", index, "-q").stdout)}
    assert (rows["zq"]["description"], rows["zq"]["desc_source"]) == ("A curated sentence about zq.", "verdict")


def test_rows_written_as_made_fail_whole(run, tmp_path):
    """Rows of many megabytes go out a piece at a time: a write failing part-way still leaves the
    output file as it was; on standard output they are the text of the whole array."""
    repo = tmp_path / "chain"
    (repo / "rtl").mkdir(parents=True)
    for i in range(600):
        below = f" c{i + 1:03} u();" if i + 1 < 600 else ""
        (repo / "rtl" / f"c{i:03}.v").write_text(f"module c{i:03};{below} endmodule\n")
    out = run(repo, "-q", "--no-verify", "--granularity", "all")
    rows = json.loads(out.stdout)
    assert len(out.stdout) > 4 << 20 and out.stdout.endswith("\n]\n")
    assert [len(r["quarrix_compat"]["files"]) for r in rows] == list(range(600, 0, -1))
    lines = run(repo, "-q", "--no-verify", "--granularity", "all", "--format", "jsonl").stdout.splitlines()
    assert [json.loads(line) for line in lines] == rows

    target = tmp_path / "rows.json"
    target.write_text("old rows\n")
    limited = run(repo, "-q", "--no-verify", "--granularity", "all", "-o", target,
                  preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (2 << 20, 2 << 20)))
    assert limited.returncode == 1 and limited.stderr == f"quarrix-scan: cannot write {target}: File too large\n"
    assert target.read_text() == "old rows\n"
    assert not [name for name in os.listdir(tmp_path) if name.startswith(".rows.json")]


def test_output_file_is_replaced_whole_or_not_at_all(run, tmp_path):
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    target = out_dir / "rows.json"
    umask = os.umask(0)
    os.umask(umask)
    assert run(DEMO, "-q", "-o", target).returncode == 0
    assert stat.S_IMODE(target.stat().st_mode) == 0o666 & ~umask  # like any new file, not the temporary's 0600

    target.write_text("old rows\n")
    target.chmod(0o640)
    # A file-size limit below the rows' size makes the write fail part-way.
    limited = run(DEMO, "-q", "-o", target,
                  preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000)))
    assert limited.returncode == 1 and limited.stdout == ""
    assert limited.stderr == f"quarrix-scan: cannot write {target}: File too large\n"
    assert target.read_text() == "old rows\n"
    assert os.listdir(out_dir) == ["rows.json"]

    link = out_dir / "link.json"
    link.symlink_to("rows.json")
    assert run(DEMO, "-q", "-o", link).returncode == 0
    assert link.is_symlink() and names(json.loads(target.read_text())) == DEMO_TOPS
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert sorted(os.listdir(out_dir)) == ["link.json", "rows.json"]


@pytest.mark.parametrize("suffix,text", [
    (".yml", "buckets:\n  uart-cores:\n    description: UART pieces.\n    prefixes: [uart_]\n"
             "  misc:\n    prefixes: ['']\n"),
    (".json", json.dumps({"buckets": {"uart-cores": {"description": "UART pieces.", "prefixes": ["uart_"]},
                                      "misc": {"prefixes": [""]}}})),
])
def test_subproject_buckets_from_yaml_or_json(run, tmp_path, suffix, text):
    bucket_map = tmp_path / ("buckets" + suffix)
    bucket_map.write_text(text)
    out = run(DEMO, "--granularity", "subproject", "--bucket-map", bucket_map, "-q")
    assert out.returncode == 0, out.stderr
    rows = json.loads(out.stdout)
    assert names(rows) == ["uart-cores", "misc"]
    assert rows[0]["description"] == "UART pieces."


def test_git_checkout_supplies_url_tag_and_commit(run, tmp_path):
    if not shutil.which("git"):
        pytest.skip("git is not installed")
    repo = tmp_path / "fifo-cores"
    shutil.copytree(DEMO, repo)
    git = ["git", "-C", str(repo), "-c", "user.name=t", "-c", "user.email=t@example.org", "-c", "commit.gpgsign=false"]
    for args in (["init", "-q"], ["add", "."], ["commit", "-qm", "x"], ["tag", "v1.2"],
                 ["remote", "add", "origin", "https://user:se@cret@example.org/fifo-cores.git"]):
        subprocess.run(git + args, check=True, capture_output=True)
    sha = subprocess.run(git + ["rev-parse", "HEAD"], check=True, capture_output=True, text=True).stdout.strip()
    (row,) = json.loads(run(repo, "--granularity", "repo", "-q").stdout)
    assert row["name"] == "fifo-cores" and row["namespace"] == "fifo-cores"
    assert row["source"]["url"] == "https://example.org/fifo-cores.git"  # credentials dropped
    assert row["source"]["tag"] == "v1.2"
    # An explicit value wins over git.
    (row,) = json.loads(run(repo, "--granularity", "repo", "--tag", "main", "-q").stdout)
    assert row["source"]["tag"] == "main"
    assert len(sha) == 40


def test_language_model_tier_by_default_only_with_a_key(scanner, tmp_path):
    repo = tmp_path / "repo"
    repo.mkdir()
    (repo / "zq.v").write_text("module zq(input a, output b);\nassign b = a;\nendmodule\n")
    requests = []

    class Refuse(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            requests.append(self.path)
            self.send_response(403)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Refuse)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env.update(GROQ_API_KEY="test-key", QUARRIX_LLM_PROVIDERS="groq", QUARRIX_LLM_PACE="0",
               QUARRIX_GROQ_BASE_URL=f"http://127.0.0.1:{server.server_port}")
    try:
        off = subprocess.run([scanner, repo, "--no-llm"], capture_output=True, text=True, env=env, timeout=120)
        assert off.returncode == 0 and requests == []
        on = subprocess.run([scanner, repo], capture_output=True, text=True, env=env, timeout=120)
    finally:
        server.shutdown()
    assert on.returncode == 0, on.stderr
    assert requests, "the key alone turns the language-model tier on"
    summary = [line for line in on.stderr.splitlines() if "not on PATH" not in line]
    assert summary[0].startswith("quarrix-scan: 1 entity, 1 kept, 0 skipped; 1 row in") and "groq" in "\n".join(summary[1:])


def test_missing_tools_and_keys_are_noted_before_the_scan(scanner, tmp_path):
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env["PATH"] = str(tmp_path)  # no HDL tool at all

    def scan(*args):
        out = subprocess.run([scanner, DEMO, *args], capture_output=True, text=True, env=env, timeout=300)
        assert out.returncode == 0, out.stderr
        return out.stderr.splitlines()

    lines = scan()
    assert lines[0] == ("quarrix-scan: note: ghdl, verilator and iverilog are not on PATH: "
                        "VHDL and Verilog rows stay unverified")
    assert lines[1].startswith("quarrix-scan: 7 entities")
    assert not any("not on PATH" in line for line in scan("--no-verify"))  # no tool is wanted
    (tmp_path / "iverilog").symlink_to("/bin/true")
    assert scan()[0] == ("quarrix-scan: note: ghdl and verilator are not on PATH: VHDL rows stay unverified, "
                         "Verilog is checked with iverilog")

    lines = scan("--llm", "--no-verify")
    assert lines[0] == ("quarrix-scan: note: --llm, but none of GROQ_API_KEY, GEMINI_API_KEY, ANTHROPIC_API_KEY "
                        "is set: no language-model descriptions")
    assert scan("--llm", "-q") == []
    env["GEMINI_API_KEY"] = "k"
    env.update(QUARRIX_LLM_PROVIDERS="gemini", QUARRIX_LLM_PACE="0",
               QUARRIX_GEMINI_BASE_URL="http://127.0.0.1:9")  # refused at once
    assert not any("--llm" in line for line in scan("--llm", "--no-verify"))


def test_no_verify_budget_and_memory_limit_leave_rows_unverified(run, tmp_path):
    checked = json.loads(run(DEMO, "-q").stdout)
    unverified = json.loads(run(DEMO, "-q", "--no-verify").stdout)
    assert [r["verified"] for r in unverified] == [False] * len(DEMO_TOPS)
    assert not any("verified" in r["badges"] for r in unverified)
    assert {r["name"]: r["vhdl_standard"] for r in unverified}["spi_master"] == "unknown"
    # Everything else is what a checked scan gives.
    strip = ("verified", "badges", "vhdl_standard")
    assert [{k: v for k, v in r.items() if k not in strip} for r in unverified] == \
        [{k: v for k, v in r.items() if k not in strip} for r in checked]

    # A spent budget runs nothing and says how many checks it left out, each in the report.
    report = pathlib.Path(tmp_path) / "report.json"
    spent = run(DEMO, "--tool-budget", "0", "--report", report)
    assert json.loads(spent.stdout) == unverified
    vhdl_checks = 1 if shutil.which("ghdl") else 0
    verilog_checks = 5 if shutil.which("verilator") or shutil.which("iverilog") else 0
    skipped = vhdl_checks + verilog_checks
    assert ("; %d tool checks skipped (--tool-budget spent)\n" % skipped in spent.stderr) == bool(skipped)
    verdicts = [r["verdict"] for u in json.loads(report.read_text())["units"] for r in u["tool_runs"]]
    assert verdicts == ["skipped (budget)"] * skipped
    # No tool can even start in 1 MiB.
    assert json.loads(run(DEMO, "-q", "--tool-memory", "1M").stdout) == unverified
    # Ample limits change nothing.
    assert json.loads(run(DEMO, "-q", "--tool-budget", "3600", "--tool-memory", "4G").stdout) == checked


def test_a_rescan_takes_tool_results_from_the_cache(run, tmp_path):
    cache = tmp_path / "cache"
    first = run(DEMO, "--cache-dir", cache)
    second = run(DEMO, "--cache-dir", cache)
    assert first.returncode == second.returncode == 0, first.stderr + second.stderr
    assert json.loads(first.stdout) and second.stdout == first.stdout
    checks = (1 if shutil.which("ghdl") else 0) + (5 if shutil.which("verilator") or shutil.which("iverilog") else 0)
    assert "from the cache" not in first.stderr
    assert ("; %d tool results from the cache\n" % checks in second.stderr) == bool(checks)
    assert "from the cache" not in run(DEMO, "--cache-dir", cache, "--no-cache").stderr

    # A corrupt cache is said once and changes no row; -q keeps it quiet.
    corrupt = tmp_path / "corrupt"
    corrupt.mkdir()
    (corrupt / "tools.sqlite").write_bytes(b"\x5a" * 8192)
    damaged = run(DEMO, "--cache-dir", corrupt)
    assert damaged.returncode == 0 and damaged.stdout == first.stdout
    if checks:
        assert damaged.stderr.count("quarrix-scan: tool cache %s unusable (" % (corrupt / "tools.sqlite")) == 1
        assert "; continuing without it\n" in damaged.stderr
    assert run(DEMO, "-q", "--cache-dir", corrupt).stderr == ""


def check_report_shape(doc):
    """The documented schema of --report."""
    assert list(doc) == ["repository", "namespace", "summary", "units", "left_out"]
    assert all(list(source) == ["path", "reason"] for source in doc["left_out"])
    assert list(doc["summary"]) == ["entities", "kept", "skipped", "rows", "seconds", "tool_checks_skipped",
                                    "failure_causes"]
    for unit in doc["units"]:
        assert list(unit) == ["name", "path", "kept", "skipped_by", "compile_list", "tool_runs"]
        assert unit["kept"] == (unit["skipped_by"] is None)
        assert unit["kept"] or (unit["compile_list"] == [] and unit["tool_runs"] == [])
        for run_ in unit["tool_runs"]:
            assert list(run_) == ["tool", "verdict", "first_error", "seconds", "cached", "cause"]
            assert run_["verdict"] in ("passed", "failed", "timed out", "not started", "skipped (budget)")
            assert (run_["cause"] is None) == (run_["verdict"] in ("passed", "not started"))


@pytest.mark.skipif(not (shutil.which("verilator") and shutil.which("iverilog")), reason="needs Verilator and Icarus")
def test_each_failed_check_says_why_and_vendor_cells_are_vendor_deps(run, tmp_path):
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    # A unit beside its testbench, whose wait Verilator's --no-timing refuses.
    (repo / "rtl" / "dut.v").write_text(
        "module dut(input a, output y);\n  assign y = a;\nendmodule\n"
        "module dut_tb;\n  reg a = 0; wire y;\n  dut u(.a(a), .y(y));\n  initial begin wait (y); $finish; end\nendmodule\n")
    (repo / "rtl" / "clk.v").write_text("module clk(input i, output o);\n  BUFG b (.I(i), .O(o));\nendmodule\n")
    (repo / "rtl" / "user.v").write_text("module user(input a);\n  elsewhere e (.a(a));\nendmodule\n")
    # A mixed-language design: the Verilog tools cannot take the VHDL entity.
    (repo / "rtl" / "core.vhd").write_text("entity core is\nend entity;\narchitecture a of core is\nbegin\nend architecture;\n")
    (repo / "rtl" / "wrap.v").write_text("module wrap;\n  core c ();\nendmodule\n")
    report = tmp_path / "report.json"
    out = run(repo, "--no-llm", "--report", report)
    assert out.returncode == 0, out.stderr
    rows = {r["name"]: r for r in json.loads(out.stdout)}
    assert rows["dut"]["verified"] is True
    assert rows["clk"]["verified"] is False and rows["clk"]["vendor_deps"] == ["unisim"]
    doc = json.loads(report.read_text())
    check_report_shape(doc)
    causes = {u["name"]: [(r["tool"], r["cause"]) for r in u["tool_runs"]] for u in doc["units"]}
    assert causes["clk"] == [(tool, {"kind": "vendor primitive", "name": "BUFG"}) for tool in ("verilator", "iverilog")]
    missing = {"kind": "missing unit", "name": "elsewhere", "declared": False}
    assert causes["user"] == [("verilator", missing), ("iverilog", missing)]
    vhdl = {"kind": "missing unit", "name": "core", "declared": True, "declared_in": "vhdl"}
    assert [cause for tool, cause in causes["wrap"] if tool != "ghdl"] == [vhdl, vhdl]
    assert doc["summary"]["failure_causes"] == {"missing unit": 4, "vendor primitive": 2}
    assert "; tool runs failed: 4 missing unit, 2 vendor primitive\n" in out.stderr


def test_report_names_every_unit_and_the_rule_that_decided(run, tmp_path):
    repo = tmp_path / "repo"
    (repo / "rtl" / "tb").mkdir(parents=True)
    (repo / "rtl" / "router.v").write_text("module router(input a); leaf u(.a(a)); endmodule\n")
    (repo / "rtl" / "leaf.v").write_text("module leaf(input a); endmodule\n")
    (repo / "rtl" / "tb" / "drive.v").write_text("module drive; endmodule\n")
    (repo / "rtl" / "top_tb.v").write_text("module top_tb; router t(); endmodule\n")
    (repo / "rtl" / "bus.sv").write_text("interface bus_if; endinterface\n")
    (repo / "rtl" / "latin1.v").write_bytes(b"// caf\xe9\nmodule latin; endmodule\n")  # read, the byte replaced
    with open(repo / "rtl" / "huge.v", "wb") as f:
        f.truncate(65 << 20)
    (repo / "rtl" / "gen").mkdir()
    (repo / "rtl" / "gen" / "made.v").write_text("module made; endmodule\n")
    os.mkfifo(repo / "rtl" / "pipe.v")
    report = tmp_path / "report.json"
    out = run(repo, "--no-verify", "-q", "--exclude", "gen", "--report", report)
    assert out.returncode == 0, out.stderr
    doc = json.loads(report.read_text())
    check_report_shape(doc)
    units = {u["name"]: u for u in doc["units"]}
    assert {name: u["skipped_by"] for name, u in units.items()} == {
        "bus_if": "declared as interface, not a module or entity", "drive": "path under /tb/", "latin": None,
        "leaf": None, "router": None, "top_tb": "simulation-only name"}
    assert units["router"]["compile_list"] == ["rtl/leaf.v", "rtl/router.v"]
    assert doc["summary"]["entities"] == 6 and doc["summary"]["kept"] == 3
    # Sources that give no unit at all, and why.
    assert sorted((s["path"], s["reason"]) for s in doc["left_out"]) == [
        ("rtl/gen", "excluded by pattern gen"), ("rtl/huge.v", "larger than 64 MiB"),
        ("rtl/pipe.v", "not a regular file")]
    # The rows are those of a scan without a report.
    assert json.loads(out.stdout) == json.loads(run(repo, "--no-verify", "-q", "--exclude", "gen").stdout)


def test_version_and_help(run):
    out = run("--version")
    assert out.returncode == 0 and re.fullmatch(r"quarrix-scan \d+\.\d+\.\d+\n", out.stdout)
    out = run("--help")
    assert out.returncode == 0 and out.stdout.startswith("usage: quarrix-scan REPO")
    for option in ("--granularity", "--bucket-map", "--previous", "--exclude", "--no-llm", "--format", "--output",
                   "--no-verify", "--tool-budget", "--tool-memory"):
        assert option in out.stdout


@pytest.mark.parametrize("args,message", [
    ([], "missing REPO"),
    ([DEMO, DEMO], "unexpected argument"),
    ([DEMO, "--bogus"], "unknown option '--bogus'"),
    ([DEMO, "--granularity", "module"], "invalid value 'module' for --granularity"),
    ([DEMO, "--format", "xml"], "invalid value 'xml' for --format"),
    ([DEMO, "--url"], "option --url needs a value"),
    ([DEMO, "--quiet=yes"], "option --quiet takes no value"),
    ([DEMO, "--granularity", "subproject"], "--granularity subproject needs --bucket-map"),
    ([DEMO, "--namespace", ""], "--namespace must not be empty"),
    ([DEMO, "--tool-budget", "soon"], "invalid value 'soon' for --tool-budget"),
    ([DEMO, "--tool-budget", "-1"], "invalid value '-1' for --tool-budget"),
    ([DEMO, "--tool-memory", "2X"], "invalid value '2X' for --tool-memory"),
    ([DEMO, "--tool-memory", "1.5G"], "invalid value '1.5G' for --tool-memory"),
    ([DEMO, "--tool-memory", "0"], "--tool-memory must be more than 0"),
    ([DEMO, "--tool-memory", "99999999T"], "is too large"),
    ([DEMO, "--no-verify=yes"], "option --no-verify takes no value"),
])
def test_bad_arguments_are_usage_errors(run, args, message):
    out = run(*args)
    assert out.returncode == 2
    assert out.stdout == ""
    assert message in out.stderr and "--help" in out.stderr


def test_missing_repository_and_file_instead_of_directory(run, tmp_path):
    out = run(tmp_path / "nowhere")
    assert out.returncode == 2 and "does not exist" in out.stderr and out.stdout == ""
    (tmp_path / "file.v").write_text("module a; endmodule\n")
    out = run(tmp_path / "file.v")
    assert out.returncode == 2 and "is not a directory" in out.stderr and out.stdout == ""


@pytest.mark.parametrize("name,text,message", [
    ("b.yml", "buckets: [unclosed\n", "is not valid YAML"),
    ("b.yml", "- just\n- a list\n", "expected a mapping"),
    ("b.yml", "version: 1\n", "\"buckets\" must be a non-empty mapping"),
    ("b.yml", "buckets: {}\n", "\"buckets\" must be a non-empty mapping"),
    ("b.yml", "buckets:\n  x:\n    prefixes: uart_\n", "must be a list of strings"),
    ("b.yml", "buckets:\n  x: [a]\n", "bucket 'x' must be a mapping"),
    ("b.json", "{\"buckets\": ", "is not valid JSON"),
    ("b.yml", "a: &a [x, x, x, x, x, x, x, x, x, x]\nb: &b [*a, *a, *a, *a, *a, *a, *a, *a, *a, *a]\n"
              "c: &c [*b, *b, *b, *b, *b, *b, *b, *b, *b, *b]\nd: &d [*c, *c, *c, *c, *c, *c, *c, *c, *c, *c]\n"
              "e: &e [*d, *d, *d, *d, *d, *d, *d, *d, *d, *d]\nf: [*e, *e, *e, *e, *e, *e, *e, *e, *e, *e]\n",
     "too large"),
    ("b.yml", b"buckets:\n  \xff: {}\n", "not UTF-8"),
])
def test_malformed_bucket_map_is_a_usage_error(run, tmp_path, name, text, message):
    path = tmp_path / name
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    out = run(DEMO, "--granularity", "subproject", "--bucket-map", path)
    assert out.returncode == 2 and out.stdout == ""
    assert message in out.stderr


DEEP = 40000
LAUGHS = "a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n" + "".join(
    f"{c}: &{c} [{', '.join(['*' + p] * 9)}]\n" for p, c in zip("abcdefgh", "bcdefghi")) + "buckets: *i\n"


@pytest.mark.parametrize("text,message", [
    ("buckets: " + "[" * DEEP + "]" * DEEP + "\n", "is nested too deeply"),
    ("buckets: " + "{a: " * DEEP + "1" + "}" * DEEP + "\n", "is nested too deeply"),
    ("buckets:\n  " + "- " * DEEP + "x\n", "is nested too deeply"),
    ("buckets:\n" + "".join(" " * i + "a:\n" for i in range(1, 2000)), "is nested too deeply"),
    ("buckets: &a {x: *a}\n", "is nested too deeply"),
    ("a0: &a0 [x]\n" + "".join(f"a{i}: &a{i} [*a{i - 1}]\n" for i in range(1, 600)), "is nested too deeply"),
    (LAUGHS, "too large once its aliases are expanded"),
], ids=["flow_lists", "flow_maps", "compact_lists", "indented_maps", "self_alias", "alias_chain", "alias_bomb"])
def test_hostile_bucket_map_is_refused_quickly(run, tmp_path, text, message):
    path = tmp_path / "b.yml"
    path.write_text(text)
    out = run(DEMO, "--granularity", "subproject", "--bucket-map", path, timeout=30)
    assert out.returncode == 2 and out.stdout == ""
    assert f"bucket map {path}" in out.stderr and message in out.stderr


@pytest.mark.parametrize("setup,args,message", [
    (None, ["--bucket-map", "{tmp}/none.yml"], "cannot read bucket map"),
    (None, ["--previous", "{tmp}/none.json"], "cannot read --previous"),
    ("previous", ["--previous", "{tmp}/prev.json"], "neither JSON nor JSON lines"),
    ("previous_bad_value", ["--previous", "{tmp}/prev.json"], "is not a string"),
    (None, ["--verdicts", "{tmp}/no-index"], "is not a directory"),
    (None, ["--output", "{tmp}/no/such/dir/rows.json"], "no such directory"),
    (None, ["--output", "{tmp}"], "is a directory"),
    (None, ["--report", "{tmp}/no/such/dir/report.json"], "no such directory"),
    (None, ["--report", "{tmp}"], "is a directory"),
])
def test_unusable_option_files_are_usage_errors(run, tmp_path, setup, args, message):
    if setup == "previous":
        (tmp_path / "prev.json").write_text("{not json\n")
    elif setup == "previous_bad_value":
        (tmp_path / "prev.json").write_text('{"a": 3}')
    out = run(DEMO, *[a.format(tmp=tmp_path) for a in args])
    assert out.returncode == 2 and out.stdout == ""
    assert message in out.stderr


def test_scan_failure_is_one_line_with_status_1(run, tmp_path):
    bucket_map = tmp_path / "b.yml"
    bucket_map.write_text("buckets:\n  uart-cores:\n    prefixes: [uart_]\n")
    out = run(DEMO, "--granularity", "subproject", "--bucket-map", bucket_map, "-q")
    assert out.returncode == 1 and out.stdout == ""
    assert out.stderr.count("\n") == 1
    assert out.stderr.startswith("quarrix-scan: scan of ")
    assert "3 entries unassigned by bucket_map" in out.stderr and "fifo_sync, ram_dp, spi_master" in out.stderr


def test_progress_on_a_terminal(scanner):
    master, slave = pty.openpty()
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    proc = subprocess.run([scanner, str(DEMO)], stdout=subprocess.PIPE, stderr=slave, env=env, timeout=300)
    os.close(slave)
    chunks = []
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    os.close(master)
    shown = b"".join(chunks).decode()
    assert proc.returncode == 0
    assert "[1/7] fifo_sync" in shown and "[7/7] " in shown
    assert "6 rows in" in shown
    assert json.loads(proc.stdout)  # rows stay clean of progress


def fake_tool(directory, name, body):
    """A stand-in for an HDL tool on PATH: answers --version, else runs `body` (sh)."""
    path = directory / name
    path.write_text(f'#!/bin/sh\n[ "$1" = "--version" ] && {{ echo "{name} 0.0"; exit 0; }}\n{body}\n')
    path.chmod(0o755)


def test_jobs_change_nothing_but_the_time(run, tmp_path):
    rows = [run(DEMO, "-q", "--jobs", str(jobs)).stdout for jobs in (1, 4)]
    assert json.loads(rows[0]) and rows[0] == rows[1]


def test_progress_lines_in_a_log_and_no_tool_outlives_an_interrupt(scanner, tmp_path):
    """Without a terminal, a slow scan prints a line every ten seconds; Ctrl-C with three checks
    under way leaves no tool running."""
    tools = tmp_path / "tools"
    tools.mkdir()
    pids = tmp_path / "pids"
    fake_tool(tools, "verilator", f'echo $$ >> "{pids}"\nexec /bin/sleep 4')
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env.update(PATH=str(tools), XDG_CACHE_HOME=str(tmp_path / "cache"))
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    for i in range(3):
        (repo / "rtl" / f"unit{i}.v").write_text(f"module unit{i}(input a); endmodule\n")
    slow = subprocess.run([scanner, repo, "--jobs", "1", "--no-llm"], capture_output=True, text=True, env=env,
                          timeout=120)
    assert slow.returncode == 0, slow.stderr
    assert re.search(r"^quarrix-scan: \d+/3 entities, \d+ tool runs?, \d+ s$", slow.stderr, re.M), slow.stderr
    # Checks run ahead of the scan say so, rather than "0/0 entities".
    fake_tool(tools, "verilator", f'echo $$ >> "{pids}"\nexec /bin/sleep 11')
    ahead = subprocess.run([scanner, repo, "--jobs", "3", "--no-llm", "--no-cache"], capture_output=True, text=True,
                           env=env, timeout=120)
    assert re.search(r"^quarrix-scan: running the tool checks ahead, 3 at a time, \d+ tool runs?, \d+ s$",
                     ahead.stderr, re.M), ahead.stderr
    assert "0/0 entities" not in ahead.stderr

    pids.unlink()
    fake_tool(tools, "verilator", f'echo $$ >> "{pids}"\nexec /bin/sleep 60')
    env["XDG_CACHE_HOME"] = str(tmp_path / "fresh-cache")  # the first scan's answers are kept there
    proc = subprocess.Popen([scanner, repo, "--jobs", "3", "--no-llm", "-q"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and (not pids.exists() or len(pids.read_text().split()) < 3):
        time.sleep(0.1)
    proc.send_signal(signal.SIGINT)
    assert proc.wait(timeout=30) != 0
    time.sleep(0.5)

    def running(pid):  # a zombie has ended; an init that reaps slowly may keep it listed
        try:
            return pathlib.Path(f"/proc/{pid}/stat").read_text().split(") ")[1][0] != "Z"
        except (FileNotFoundError, IndexError):
            return False
    assert [pid for pid in map(int, pids.read_text().split()) if running(pid)] == []


def test_report_tells_each_check_its_verdict_first_error_and_cache(scanner, tmp_path):
    tools = tmp_path / "tools"
    tools.mkdir()
    fake_tool(tools, "verilator", 'echo "- V e r i l a t i o n" >&2\necho "%Error: rtl/bad.v:1: syntax error" >&2\nexit 1')
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    env.update(PATH=str(tools))
    repo = tmp_path / "repo"
    (repo / "rtl").mkdir(parents=True)
    (repo / "rtl" / "bad.v").write_text("module bad(input a); endmodul\n")
    report = tmp_path / "report.json"
    for cached in (False, True):
        out = subprocess.run([scanner, repo, "-q", "--no-llm", "--cache-dir", tmp_path / "cache", "--report", report],
                             capture_output=True, text=True, env=env, timeout=120)
        assert out.returncode == 0, out.stderr
        doc = json.loads(report.read_text())
        check_report_shape(doc)
        [unit] = doc["units"]
        [check] = unit["tool_runs"]
        assert (check["tool"], check["verdict"], check["cached"]) == ("verilator", "failed", cached)
        assert check["first_error"] == "%Error: rtl/bad.v:1: syntax error"
