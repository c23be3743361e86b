"""A scan with the repositories it depends on (--with, scan_repo's dependencies)."""

import json
import os
import shutil
import subprocess

import pytest

import quarrix_core.ip_scanner as s
from quarrix_core import probes as p

HAS_VERILOG_TOOL = bool(shutil.which("verilator") or shutil.which("iverilog"))


@pytest.fixture()
def repos(tmp_path):
    app, lib = tmp_path / "app", tmp_path / "cells"
    files = {
        app / "rtl" / "soc.sv": '`include "cells/defs.svh"\n'
                                "module soc(input clk, output [`CELL_W-1:0] q);\n"
                                "  sync_reg u0(.clk(clk), .q(q));\n  arbiter u1();\nendmodule\n",
        app / "rtl" / "arbiter.sv": "module arbiter; endmodule\n",
        lib / "include" / "cells" / "defs.svh": "`define CELL_W 4\n",
        lib / "src" / "sync_reg.sv": '`include "cells/defs.svh"\n'
                                     "module sync_reg(input clk, output reg [`CELL_W-1:0] q);\n"
                                     "  arbiter a();\n  always @(posedge clk) q <= q + 1'b1;\nendmodule\n",
        # The repository's own arbiter wins over the dependency's namesake.
        lib / "src" / "arbiter.sv": "module arbiter; this_does_not_exist x(); endmodule\n",
    }
    for path, text in files.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return app, lib


def scan(scanner, tmp_path, *args):
    env = {k: v for k, v in os.environ.items() if not k.endswith("_API_KEY")}
    env["XDG_CACHE_HOME"] = str(tmp_path / "xdg-cache")
    return subprocess.run([scanner, *map(str, args)], capture_output=True, text=True, env=env, timeout=300)


def test_with_resolves_from_the_dependency_and_keeps_rows_to_the_repository(scanner, tmp_path, repos):
    app, lib = repos
    out = scan(scanner, tmp_path, app, "--no-llm", "-q", "--granularity", "all", "--with", f"{lib}=acme/cells",
               "--report", tmp_path / "report.json")
    assert out.returncode == 0, out.stderr
    rows = {r["name"]: r for r in json.loads(out.stdout)}
    assert sorted(rows) == ["arbiter", "soc"]  # nothing of the dependency is a row
    assert rows["soc"]["quarrix_compat"]["files"] == ["rtl/arbiter.sv", "rtl/soc.sv"]
    assert rows["soc"]["verified"] is HAS_VERILOG_TOOL
    unit = next(u for u in json.loads((tmp_path / "report.json").read_text())["units"] if u["name"] == "soc")
    assert unit["from_dependencies"] == [
        {"namespace": "acme/cells", "file": "include/cells/defs.svh", "units": []},
        {"namespace": "acme/cells", "file": "src/sync_reg.sv", "units": ["sync_reg"]}]

    alone = scan(scanner, tmp_path, app, "--no-llm", "-q", "--granularity", "all")
    assert {r["name"]: r["verified"] for r in json.loads(alone.stdout)}["soc"] is False

    # The binding takes the same dependencies and gives the same rows.
    rows_py = s.scan_repo(app, "app", "", "", "", p.default_probes(), use_llm=False, granularity="all",
                          dependencies=[(lib, "acme/cells")])
    assert [r["quarrix_compat"]["files"] for r in rows_py] == [r["quarrix_compat"]["files"]
                                                               for r in json.loads(out.stdout)]
    with pytest.raises(TypeError):
        s.scan_repo(app, "app", "", "", "", p.default_probes(), dependencies=[str(lib)])
    with pytest.raises(ValueError, match="not a directory"):
        s.scan_repo(app, "app", "", "", "", p.default_probes(), use_llm=False, dependencies=[(app / "x", "x")])


@pytest.mark.parametrize("value, message", [
    ("{tmp}/missing", "is not a directory"),
    ("{app}", "overlaps REPO"),
    ("{app}/rtl", "overlaps REPO"),
    ("{lib}=", "empty namespace"),
])
def test_with_refuses_what_cannot_be_a_dependency(scanner, tmp_path, repos, value, message):
    app, lib = repos
    out = scan(scanner, tmp_path, app, "--no-llm", "--with", value.format(tmp=tmp_path, app=app, lib=lib))
    assert out.returncode == 2 and message in out.stderr and out.stdout == ""


@pytest.mark.skipif(not shutil.which("verilator"), reason="no Verilator on PATH")
def test_an_error_in_a_dependency_is_shown_with_its_path(scanner, tmp_path, repos):
    app, lib = repos
    (lib / "src" / "sync_reg.sv").write_text("module sync_reg(input clk, output q); assign q = ; endmodule\n")
    out = scan(scanner, tmp_path, app, "--no-llm", "-q", "--no-cache", "--with", lib, "--report", tmp_path / "r.json")
    assert out.returncode == 0, out.stderr
    unit = next(u for u in json.loads((tmp_path / "r.json").read_text())["units"] if u["name"] == "soc")
    assert f"{os.path.realpath(lib)}/src/sync_reg.sv" in unit["tool_runs"][0]["first_error"]
