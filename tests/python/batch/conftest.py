"""Six small git repositories, and one local Dask cluster of two worker processes."""

import os

import pytest

from batch_repos import make_repo, verilog, vhdl

# Markers a repository may hold: the test-only probe of the scan process acts on them.
os.environ["QUARRIX_BATCH_TEST_PROBE"] = ("crash:CRASH_ME,kill-worker:KILL_WORKER,kill-worker-once:KILL_ONCE,"
                                         "sleep=30:SLOW_ME,"
                                         "signal=INT:INTERRUPT_ME,signal=TERM:TERMINATE_ME,exit=129:HANG_UP_ME")


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

    with dask.config.set({"distributed.scheduler.allowed-failures": 1,
                          "distributed.scheduler.worker-saturation": 1.0}):
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                               silence_logs=40)
    yield cluster.scheduler_address
    cluster.close()
