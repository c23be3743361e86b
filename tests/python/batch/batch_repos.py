"""Small git repositories made at test time (a module of its own name: other suites have a conftest too)."""

import subprocess
from pathlib import Path

_GIT = ["git", "-c", "user.name=t", "-c", "user.email=t@example.org", "-c", "init.defaultBranch=main"]


def git(repo, *args):
    return subprocess.run([*_GIT, "-C", str(repo), *args], check=True, capture_output=True, text=True).stdout


def make_repo(root: Path, name: str, files: dict, tag: str = "") -> Path:
    repo = root / name
    repo.mkdir(parents=True)
    git(repo, "init", "-q")
    for rel, text in files.items():
        (repo / rel).parent.mkdir(parents=True, exist_ok=True)
        (repo / rel).write_text(text, encoding="utf-8")
    git(repo, "add", "-A")
    git(repo, "commit", "-qm", "first")
    if tag:
        git(repo, "tag", "-a", tag, "-m", tag)
    return repo


def commit_file(repo: Path, rel: str, text: str) -> None:
    (repo / rel).parent.mkdir(parents=True, exist_ok=True)
    (repo / rel).write_text(text, encoding="utf-8")
    git(repo, "add", "-A")
    git(repo, "commit", "-qm", f"change {rel}")


def verilog(name: str, comment: str = "") -> str:
    return f"// {comment}\nmodule {name}(input clk, input rst, input [7:0] d, output reg [7:0] q);\n" \
           f"  always @(posedge clk) q <= rst ? 8'd0 : d;\nendmodule\n"


def vhdl(name: str) -> str:
    return (f"library ieee;\nuse ieee.std_logic_1164.all;\nentity {name} is\n  port (clk : in std_logic;\n"
            f"        q : out std_logic);\nend entity;\narchitecture rtl of {name} is\nbegin\n  q <= clk;\nend;\n")


