"""The README's shown commands and Python lines, run on the bundled example, so that they stay true."""

import ast
import json
import os
import pathlib
import re
import shlex
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()
DEMO = ROOT / "examples" / "demo_repo"
PROVIDER_KEYS = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")


def section(title):
    return README.split(f"\n## {title}\n", 1)[1].split("\n## ", 1)[0]


def test_python_api_lines_answer_as_their_comments_say():
    [code] = re.findall(r"```python\n(.*?)```", section("Python API"), re.S)
    code = code.replace('"path/to/clone"', repr(str(DEMO)))
    space = {}
    exec(compile(code, "README.md", "exec"), space)
    assert space["rows"] and {r["role"] for r in space["rows"]} <= {"top", "component"}
    for line in code.splitlines():
        expression, _, said = line.partition("  #")
        if said.strip():
            assert eval(expression, space) == ast.literal_eval(said.strip()), line


def test_command_line_examples_run_on_the_example(scanner, tmp_path):
    block = section("Command line").split("\nExamples:\n", 1)[1].strip("\n").split("\n\n", 1)[0]
    commands = [shlex.split(line.split("  #")[0]) for line in block.replace("\\\n", " ").splitlines()]
    assert len(commands) >= 4
    (tmp_path / "index").mkdir()
    (tmp_path / "big-lib.buckets.yml").write_text("buckets:\n  uart:\n    prefixes: [uart_]\n  misc:\n    prefixes: ['']\n")
    previous = subprocess.run([scanner, DEMO, "-q"], capture_output=True, text=True, check=True).stdout
    (tmp_path / "rows-before.json").write_text(previous)
    env = {k: v for k, v in os.environ.items() if k not in PROVIDER_KEYS}
    for argv in commands:
        assert argv[0] == "quarrix-scan"
        argv = [str(DEMO) if a.startswith(("~/src/", "examples/")) else a for a in argv[1:]]
        argv = [str(tmp_path / "index") if a == "~/index" else a for a in argv]
        out = subprocess.run([scanner, *argv], capture_output=True, text=True, cwd=tmp_path, env=env, timeout=300)
        assert out.returncode == 0, (argv, out.stderr)
        assert out.stdout or (tmp_path / "rows.jsonl").exists()
    assert [json.loads(line)["name"] for line in (tmp_path / "rows.jsonl").read_text().splitlines()] == ["uart", "misc"]
