"""The review server over HTTP: the verdict round trip through quarrix-scan, and
what it refuses (forged or oversized posts, foreign Host headers, sources outside
--repo-root, markup in repository strings)."""

import json
import re
import subprocess
import threading
import warnings

import httpx
import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore")      # newer Starlette asks for httpx2 here; httpx serves the same
    from starlette.testclient import TestClient

from .review_workspace import CANARY, HOSTILE_COMPONENT, HOSTILE_DESCRIPTION, HOSTILE_NAME, HOSTILE_TAG
from quarrix_core.review.app import create_app
from quarrix_core.review.rows import RowSet


@pytest.fixture()
def client(workspace):
    app = create_app(RowSet.load(workspace["rows"]), workspace["index"], workspace["repos"])
    with TestClient(app, base_url="http://127.0.0.1:8765", follow_redirects=False) as c:
        c.review = app.state.review
        yield c


def token(html):
    return re.search(r'name="csrf" value="([^"]+)"', html).group(1)


def row_number(client, namespace, name):
    return client.review.rows.find(namespace, name)


def test_marking_good_is_published_by_the_scanner_with_source_verdict(client, workspace, scanner):
    i = row_number(client, "demo_repo", "uart_top")
    page = client.get(f"/rows/{i}?role=top")
    assert page.status_code == 200 and "UART core combining" in page.text
    sent = client.post(f"/rows/{i}/verdict", data={"csrf": token(page.text), "verdict": "good",
                                                   "locked_text": "  A UART,\r\nchecked  by hand. \r\n", "ctx_role": "top"})
    assert sent.status_code == 303 and sent.headers["location"] == f"/rows/{i}?role=top&saved=good"
    again = client.get(sent.headers["location"])
    assert "Saved: Good" in again.text and ">A UART, checked by hand.</textarea>" in again.text
    assert client.get("/?verdict=good").text.count('class="row-link"') == 1

    done = subprocess.run([scanner, str(workspace["repos"] / "demo_repo"), "--no-verify", "--no-cache", "-q", "--verdicts",
                           str(workspace["index"])], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    by_name = {r["name"]: r for r in json.loads(done.stdout)}
    assert by_name["uart_top"]["description"] == "A UART, checked by hand."
    assert by_name["uart_top"]["desc_source"] == "verdict"
    assert by_name["uart_tx"]["desc_source"] != "verdict"


def test_state_changes_need_a_post_from_our_page(client, workspace):
    i = row_number(client, "demo_repo", "uart_top")
    good = {"csrf": token(client.get(f"/rows/{i}").text), "verdict": "good", "locked_text": "x"}
    forged = good["csrf"][:-1] + ("B" if good["csrf"].endswith("A") else "A")
    refused = [
        client.post(f"/rows/{i}/verdict", data={**good, "csrf": ""}),
        client.post(f"/rows/{i}/verdict", data={**good, "csrf": forged}),
        client.post(f"/rows/{i}/verdict", data=good, headers={"Origin": "http://evil.example"}),
        client.post("/verdict-file/convert", data={}),
        client.get(f"/rows/{i}/verdict", params=good),
        client.post(f"/rows/{i}/verdict", data={**good, "locked_text": "y" * 70_000}),
        client.post(f"/rows/{i}/verdict", content=iter([b"csrf=" + b"z" * 40_000, b"z" * 40_000]),
                    headers={"Content-Type": "application/x-www-form-urlencoded"}),
        client.get("/", headers={"Host": "attacker.example:8765"}),   # a rebound DNS name
    ]
    assert [r.status_code for r in refused] == [403, 403, 403, 403, 405, 413, 413, 400]
    assert not (workspace["index"] / "descriptions_verdicts.json").exists()
    assert client.post(f"/rows/{i}/verdict", data=good).status_code == 303
    headers = client.get("/").headers
    assert "script-src 'self'" in headers["content-security-policy"] and headers["x-frame-options"] == "DENY"


def test_a_file_the_page_cannot_write_is_reported_and_kept(client, workspace):
    path = workspace["index"] / "descriptions_verdicts.json"
    i = row_number(client, "demo_repo", "uart_top")
    path.write_text('{"entries": {"demo_repo/uart_top": ')
    page = client.get(f"/rows/{i}")
    assert 'id="file-invalid"' in page.text and "not valid JSON" in page.text and "disabled" in page.text
    sent = client.post(f"/rows/{i}/verdict", data={"csrf": token(page.text), "verdict": "good", "locked_text": "T"})
    assert sent.status_code == 409 and "left untouched" in sent.text
    assert path.read_text() == '{"entries": {"demo_repo/uart_top": '

    flat = {"demo_repo/uart_tx": {"verdict": "good", "locked_text": "TX."}, "other/x": {"verdict": "not-good"}}
    path.write_text(json.dumps(flat))
    page = client.get("/")
    assert 'id="file-flat"' in page.text
    assert client.post(f"/rows/{i}/verdict", data={"csrf": token(page.text), "verdict": "good",
                                                   "locked_text": "T"}).status_code == 409
    assert client.post("/verdict-file/convert", data={"csrf": token(page.text)}).status_code == 303
    assert json.loads(path.read_text()) == {"version": 1, "entries": flat}
    assert 'id="file-flat"' not in client.get("/").text


def test_sources_are_read_only_inside_the_repo_root(client):
    shown = client.get(f"/rows/{row_number(client, 'demo_repo', 'spi_master')}").text
    assert "SPI master with configurable clock polarity and phase." in shown and "<code>miso</code>" in shown
    for name in ("climbs_out", "absolute", "linked_out"):
        page = client.get(f"/rows/{row_number(client, 'hostile', name)}").text
        assert 'id="source-problem"' in page, name
        assert CANARY not in page and CANARY.replace("-", "_") not in page, name


def test_repository_strings_are_escaped_in_every_page(client):
    rows = client.review.rows
    top = rows.find("hostile", HOSTILE_NAME)
    pages = {"list": client.get("/?namespace=hostile").text, "row": client.get(f"/rows/{top}").text,
             "component row": client.get(f"/rows/{rows.find('hostile', HOSTILE_COMPONENT)}").text,
             "repo": client.get("/repo", params={"namespace": "hostile"}).text,
             "search": client.get("/", params={"q": HOSTILE_DESCRIPTION}).text}
    for what, html in pages.items():
        for raw in (HOSTILE_NAME, HOSTILE_DESCRIPTION, HOSTILE_TAG, HOSTILE_COMPONENT, "<b>bold</b>"):
            assert raw not in html, (what, raw)
        assert "<script>alert" not in html and "<img" not in html and 'href="javascript:' not in html, what
    assert "a component {{ 7*7 }} ${7*7}" in pages["component row"]
    assert "&lt;script&gt;alert(1)&lt;/script&gt;" in pages["row"]
    assert 'href="javascript:' not in pages["row"]

    svg = pages["repo"].split('id="graph">')[1]
    assert svg.count("<svg") == 1 and svg.count("</svg>") == 1
    assert f'href="/rows/{top}"' in svg and "&lt;/svg&gt;&lt;img src=x onerror=alert(3)&gt;" in svg
    assert "leaf\\N&quot;&#39;" in svg, "a backslash in a name is shown, not expanded by dot"


def test_two_servers_on_one_index_lose_no_update(serve, workspace):
    servers = [serve(workspace["rows"], workspace["index"]) for _ in range(2)]
    rows = RowSet.load(workspace["rows"])

    def mark(server, numbers):
        with httpx.Client(base_url=server.url, timeout=30) as http:
            csrf = token(http.get("/rows/0").text)
            for i in numbers:
                sent = http.post(f"/rows/{i}/verdict", data={"csrf": csrf, "verdict": "good", "locked_text": f"T{i}"})
                assert sent.status_code == 303

    # One server marks the even rows, the other the odd ones, at the same time.
    threads = [threading.Thread(target=mark, args=(s, range(k, len(rows), 2))) for k, s in enumerate(servers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    entries = json.loads((workspace["index"] / "descriptions_verdicts.json").read_text())["entries"]
    assert {k: v["locked_text"] for k, v in entries.items()} == {rows.key(i): f"T{i}" for i in range(len(rows))}
    # Each server's list shows the other's verdicts too.
    assert httpx.get(servers[0].url + "/?verdict=good&per=200").text.count('class="row-link"') == len(rows)


def test_listening_beyond_loopback_warns(serve, workspace):
    server = serve(workspace["rows"], workspace["index"], extra=["--host", "0.0.0.0"])
    assert any("warning: listening on 0.0.0.0, not loopback" in line for line in server.stderr)
    quiet = serve(workspace["rows"], workspace["index"])
    assert not any("warning" in line for line in quiet.stderr)


def test_without_graphviz_the_repository_page_says_so(client, monkeypatch):
    monkeypatch.setenv("PATH", "/nonexistent")
    page = client.get("/repo", params={"namespace": "demo_repo"})
    assert page.status_code == 200 and "Graphviz is not installed" in page.text and "uart_top" in page.text
    assert client.get("/repo", params={"namespace": "no such"}).status_code == 404
    assert client.get("/rows/100000").status_code == 404
