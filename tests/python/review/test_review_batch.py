"""The review page over a real batch: sources at the scanned commit, forge links, and checkouts that
moved, were edited or went away since."""

import json
import sqlite3
import subprocess
from pathlib import Path
import warnings

import httpx
import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore")      # newer Starlette asks for httpx2 here; httpx serves the same
    from starlette.testclient import TestClient

from quarrix_core.batch.cli import main as batch_main
from quarrix_core.batch.store import NewResult, ResultStore
from quarrix_core.batch.task import clone_dir
from quarrix_core.review.app import BatchSources, create_app
from quarrix_core.review.batch_rows import load_batch

_GIT = ["git", "-c", "user.name=t", "-c", "user.email=t@example.org", "-c", "init.defaultBranch=main"]
UART = "// UART transmitter with a fixed divider.\nmodule uart_tx(input clk, input [7:0] d, output q);\n" \
       "  assign q = d[0];\nendmodule\n"
GPIO = "// General-purpose pins.\nmodule gpio(input clk, input [3:0] pins, output irq);\n" \
       "  assign irq = |pins;\nendmodule\n"


def git(repo, *args):
    return subprocess.run([*_GIT, "-C", str(repo), *args], check=True, capture_output=True, text=True).stdout


def commit(repo, rel, text):
    (repo / rel).parent.mkdir(parents=True, exist_ok=True)
    (repo / rel).write_text(text)
    git(repo, "add", "-A")
    git(repo, "commit", "-qm", f"write {rel}")
    return git(repo, "rev-parse", "HEAD").strip()


@pytest.fixture()
def batch(tmp_path):
    """uart cloned by the batch from a file:// URL; gpio a local checkout whose origin is on GitHub."""
    uart, gpio = tmp_path / "uart", tmp_path / "gpio"
    for repo in (uart, gpio):
        repo.mkdir()
        git(repo, "init", "-q")
    git(gpio, "remote", "add", "origin", "https://github.com/acme/gpio.git")
    done = {"uart": commit(uart, "rtl/uart_tx.v", UART), "gpio": commit(gpio, "hdl/gpio.v", GPIO)}
    manifest = tmp_path / "m.json"
    manifest.write_text(f'{{"repositories": [{{"url": "{uart.as_uri()}", "namespace": "uart"}}, {{"path": "{gpio}"}}]}}')
    work = tmp_path / "work"

    def run():
        assert batch_main([str(manifest), "--work", str(work), "--workers", "1", "--no-verify", "--no-llm", "-q",
                           "--force"]) == 0
    run()
    (tmp_path / "index").mkdir()
    return {"work": work, "index": tmp_path / "index", "gpio": gpio, "commits": done, "rerun": run,
            "clone": Path(clone_dir(str(work), uart.as_uri(), ""))}


def row_page(batch, namespace, name):
    rows, checkouts = load_batch(str(batch["work"] / "results.sqlite"))
    app = create_app(rows, batch["index"], batch=BatchSources(checkouts))
    with TestClient(app, base_url="http://127.0.0.1:8765") as c:
        page = c.get(f"/rows/{rows.find(namespace, name)}")
    assert page.status_code == 200
    return page.text


def test_batch_rows_show_their_sources_and_link_to_the_scanned_commit(batch, serve):
    (batch["work"] / "graph.json").write_text(json.dumps({
        "repositories": [{"namespace": n, "url": "", "commit": "", "status": "scanned", "rows": 1}
                         for n in ("uart", "gpio")],
        "edges": [{"from": "uart", "to": "gpio", "declared_by": ["manifest"], "units": ["gpio"]}]}))
    server = serve([], batch["index"], extra=["--batch", str(batch["work"])])
    listing = httpx.get(server.url + "/").text
    assert "uart_tx" in listing and "gpio" in listing
    registry = httpx.get(server.url + "/registry").text         # the batch's own graph.json, linked from the list
    assert 'href="/registry"' in listing and "2 repositories,\n1 dependency" in registry
    for i, name in enumerate(("gpio", "uart_tx")):      # rows in source order: the path, then the file:// URL
        page = httpx.get(f"{server.url}/rows/{i}").text
        assert f'<h1 id="row-name">{name}</h1>' in page
        assert 'id="ports"' in page and 'id="no-parse"' not in page
    gpio = httpx.get(f"{server.url}/rows/0").text
    assert "General-purpose pins." in gpio
    assert f'href="https://github.com/acme/gpio/blob/{batch["commits"]["gpio"]}/hdl/gpio.v#L2"' in gpio
    uart = httpx.get(f"{server.url}/rows/1").text
    assert "UART transmitter" in uart and 'id="forge-link"' not in uart and 'id="no-forge"' in uart


def test_a_moved_or_edited_checkout_still_shows_the_scanned_text_and_no_other(batch):
    commit(batch["gpio"], "hdl/gpio.v", GPIO.replace("General-purpose pins", "CHANGED LATER"))
    page = row_page(batch, "gpio", "gpio")
    assert "General-purpose pins." in page and "CHANGED LATER" not in page
    assert "is now at" in page and 'id="ports"' not in page       # the parser would read the new text
    assert f'/blob/{batch["commits"]["gpio"]}/hdl/gpio.v"' in page    # no lines: the declaration is not parsed

    (batch["clone"] / "rtl" / "uart_tx.v").write_text("// EDITED IN PLACE\nmodule uart_tx; endmodule\n")
    page = row_page(batch, "uart", "uart_tx")
    assert "UART transmitter" in page and "EDITED IN PLACE" not in page and "differ from the scanned commit" in page

    # A checkout made afresh, without the scanned commit.
    subprocess.run(["rm", "-rf", str(batch["clone"] / ".git")], check=True)
    git(batch["clone"], "init", "-q")
    commit(batch["clone"], "rtl/uart_tx.v", UART.replace("UART transmitter", "ANOTHER HISTORY"))
    page = row_page(batch, "uart", "uart_tx")
    assert "ANOTHER HISTORY" not in page and "no longer holds that commit" in page

    subprocess.run(["rm", "-rf", str(batch["clone"])], check=True)
    assert "is gone" in row_page(batch, "uart", "uart_tx")


def test_rows_scanned_from_uncommitted_changes_show_no_source_and_no_link(batch):
    (batch["gpio"] / "hdl" / "gpio.v").write_text(GPIO.replace("pins", "lines"))
    batch["rerun"]()
    page = row_page(batch, "gpio", "gpio")
    assert "uncommitted changes" in page and 'id="source-code"' not in page
    assert 'id="forge-link"' not in page and "no commit holds the scanned text" in page


def test_an_older_store_gains_the_checkout_columns_and_the_newest_result_wins(tmp_path):
    path = tmp_path / "old.sqlite"
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE results (entry TEXT PRIMARY KEY, key TEXT NOT NULL, source TEXT NOT NULL, "
               "ref TEXT NOT NULL, commit_sha TEXT NOT NULL, version TEXT NOT NULL, rows_jsonl TEXT NOT NULL, "
               "row_count INTEGER NOT NULL, seconds REAL NOT NULL, scanned_at REAL NOT NULL)")
    db.execute("INSERT INTO results VALUES ('e1', 'k', 'https://h/r', '', 'c1', '1', '', 0, 0.1, 1.0)")
    db.commit()
    db.close()
    store = ResultStore(str(path))
    assert [(r.commit, r.checkout) for r in store.latest()] == [("c1", "")]
    # The same repository with other options, scanned later: the review serves that result alone.
    store.put("e2", NewResult("k2", "https://h/r", "", "c2", "1", "", 0, 0.1, checkout="/w/clones/x/r", dirty=False))
    store.put("e3", NewResult("k3", "https://h/other", "", "c3", "1", "", 0, 0.1, checkout="/w/o", dirty=True))
    assert [(r.source, r.commit, r.checkout, r.dirty) for r in store.latest()] == [
        ("https://h/other", "c3", "/w/o", True), ("https://h/r", "c2", "/w/clones/x/r", False)]
    assert store.get("e1").commit == "c1"            # the batch's own lookups are unchanged
    store.close()
