"""Small git repositories made at test time, and one local Dask cluster of two worker processes."""

import os
import subprocess
from pathlib import Path

import pytest

# Markers a repository may hold: the test-only probe of the scan process acts on them.
os.environ["QUARRIX_BATCH_TEST_PROBE"] = "crash:CRASH_ME,kill-worker:KILL_WORKER,sleep=30:SLOW_ME"

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


@pytest.fixture(scope="session")
def six_repos(tmp_path_factory):
    """Six repositories: Verilog, VHDL, a tag, a licence, non-ASCII text, nested sources."""
    root = tmp_path_factory.mktemp("origins")
    return [
        make_repo(root, "uart", {"rtl/uart_tx.v": verilog("uart_tx", "UART transmitter with a fixed baud divider"),
                                 "LICENSE": "MIT License\n"}, tag="v1.0"),
        make_repo(root, "spi", {"hdl/spi_master.vhd": vhdl("spi_master"), "README.md": "# spi\nAn SPI master.\n"}),
        make_repo(root, "fifo", {"src/fifo_sync.v": verilog("fifo_sync", "Synchronous FIFO – größe 16"),
                                 "src/fifo_ram.v": verilog("fifo_ram")}),
        make_repo(root, "gpio", {"rtl/gpio_top.sv": verilog("gpio_top"), "rtl/sub/gpio_pin.sv": verilog("gpio_pin")},
                  tag="release"),
        make_repo(root, "timer", {"timer.v": verilog("timer32", "Free-running 32-bit timer")}),
        make_repo(root, "crc", {"rtl/crc8.vhd": vhdl("crc8"), "rtl/crc16.vhd": vhdl("crc16")}),
    ]


@pytest.fixture(scope="session")
def scheduler():
    """A LocalCluster of two worker processes, one thread each, as the batch makes its own."""
    import dask
    from distributed import LocalCluster

    with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                               silence_logs=40)
    yield cluster.scheduler_address
    cluster.close()
