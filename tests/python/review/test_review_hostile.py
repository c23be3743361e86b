"""The verdict file changed underneath the page by another program: whatever stands there, the page
answers at once and clearly, never 500, never a hang; a lock held elsewhere is waited for a bounded time."""

import fcntl
import json
import os
import re
import time
import warnings

import httpx
import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    from starlette.testclient import TestClient

from quarrix_core.review.app import create_app
from quarrix_core.review.rows import RowSet

NAME = "descriptions_verdicts.json"


@pytest.fixture()
def client(workspace):
    app = create_app(RowSet.load(workspace["rows"]), workspace["index"], workspace["repos"])
    with TestClient(app, base_url="http://127.0.0.1:8765", follow_redirects=False) as c:
        c.review = app.state.review
        c.index = workspace["index"]
        yield c


def post_good(client, text="Checked by hand."):
    i = client.review.rows.find("demo_repo", "uart_top")
    page = client.get(f"/rows/{i}")
    token = re.search(r'name="csrf" value="([^"]+)"', page.text).group(1)
    return client.post(f"/rows/{i}/verdict", data={"csrf": token, "verdict": "good", "locked_text": text})


def _stand_in(path, kind):
    if kind == "directory":
        path.mkdir()
    elif kind == "FIFO":
        os.mkfifo(path)
    else:
        path.symlink_to("/dev/zero")     # read to its end, it never ends


@pytest.mark.parametrize("kind, shown", [("directory", "a directory"), ("FIFO", "a FIFO"),
                                         ("device", "a character device")])
@pytest.mark.parametrize("where", [NAME, NAME + ".lock"])
def test_what_is_no_regular_file_is_refused_with_a_message(client, kind, shown, where):
    _stand_in(client.index / where, kind)
    if where.endswith(".lock") and kind == "device":
        shown = "a symbolic link"            # the lock is ours alone: no link is followed
    start = time.monotonic()
    listing = client.get("/")
    sent = post_good(client)
    assert time.monotonic() - start < 5
    assert listing.status_code == 200
    assert sent.status_code == 409 and f"is {shown}, not a regular file" in sent.text
    assert ">Checked by hand.</textarea>" in sent.text
    if where == NAME:
        assert f"The verdict file is {shown}, not a regular file" in listing.text


def test_a_backup_that_cannot_be_replaced_leaves_the_file_as_it_was(client):
    path = client.index / NAME
    path.write_text(json.dumps({"version": 1, "entries": {}}))
    (client.index / (NAME + ".bak")).mkdir()
    sent = post_good(client)
    assert sent.status_code == 409 and f"cannot write the verdict file {client.index / (NAME + '.bak')}" in sent.text
    assert json.loads(path.read_text()) == {"version": 1, "entries": {}}
    assert not list(client.index.glob("*.tmp"))


def test_a_lock_held_elsewhere_is_waited_for_then_answered_503_with_the_form_kept(client):
    client.review.verdicts.lock_timeout = 0.3
    with open(client.index / (NAME + ".lock"), "w") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        start = time.monotonic()
        sent = post_good(client, "Kept while busy.")
        assert 0.3 <= time.monotonic() - start < 5
    assert sent.status_code == 503 and sent.headers["retry-after"] == "5"
    assert "held by another writer" in sent.text and ">Kept while busy.</textarea>" in sent.text
    assert not (client.index / NAME).exists()
    assert post_good(client).status_code == 303        # released: the same post goes through


def test_a_file_rewritten_by_another_program_between_read_and_write_is_merged(client, monkeypatch):
    path = client.index / NAME
    path.write_text(json.dumps({"version": 1, "entries": {"other/a": {"verdict": "not-good"}}}))
    vf = client.review.verdicts
    read = vf._read_bytes
    rewrites = []

    def read_then_rewritten():     # another program, taking no lock, replaces the file just after our read
        data = read()
        if not rewrites:
            rewrites.append(1)
            doc = json.loads(data)
            doc["entries"]["other/b"] = {"verdict": "improvable"}
            tmp = path.with_suffix(".other")
            tmp.write_text(json.dumps(doc))
            os.replace(tmp, path)
        return data

    monkeypatch.setattr(vf, "_read_bytes", read_then_rewritten)
    assert post_good(client).status_code == 303
    entries = json.loads(path.read_text())["entries"]
    assert set(entries) == {"other/a", "other/b", "demo_repo/uart_top"}


def test_the_server_keeps_answering_with_a_fifo_for_a_verdict_file(workspace, serve):
    os.mkfifo(workspace["index"] / NAME)
    server = serve(workspace["rows"], workspace["index"], workspace["repos"])
    with httpx.Client(base_url=server.url, timeout=10) as http:
        for _ in range(50):            # more than the server has threads
            assert http.get("/").status_code == 200
        assert "a FIFO, not a regular file" in http.get("/").text
