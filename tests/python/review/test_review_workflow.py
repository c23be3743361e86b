"""A curator's pace: who judged what and when, save and next, the queue, and the namespace search."""

import json
import re
import warnings

from quarrix_core import ip_scanner
from quarrix_core.review.app import create_app
from quarrix_core.review.row_index import ListQuery, RowIndex
from quarrix_core.review.rows import RowSet
from quarrix_core.review.verdict_file import HISTORY_FIELD, VerdictFile

with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    from starlette.testclient import TestClient


def test_provenance_is_kept_per_verdict_and_the_scanner_still_reads_the_file(tmp_path):
    vf = VerdictFile(tmp_path)
    judged = {"curator": "ann", "judged_at": "2026-01-01T00:00:00Z", "judged_text": "Ports: a, b", "judged_source": "ports"}
    vf.set_verdict("ns/a", "not-good", "", judged)
    record = vf.set_verdict("ns/a", "good", "Locked.", {**judged, "curator": "bob", "judged_text": "Other"})
    assert (record["verdict"], record["curator"], record["judged_text"]) == ("good", "bob", "Other")
    assert [(h["verdict"], h["curator"], h.get("locked_text")) for h in record[HISTORY_FIELD]] == \
        [("not-good", "ann", None), ("good", "bob", "Locked.")]
    assert ip_scanner.verdict_locked_text(ip_scanner.load_description_verdicts(str(tmp_path)), "ns", "a") == "Locked."


def rows_of(n):
    rows = RowSet()
    for i in range(n):
        rows.add({"name": f"u{i}", "namespace": "alpha" if i < n // 2 else f"beta{i}", "role": ["top", "component"][i % 2],
                  "desc_source": ["ports", "header", "auto"][i % 3], "description": f"d{i}"})
    return rows


def test_the_queue_puts_weak_descriptions_of_tops_first_and_judged_rows_last():
    rows = rows_of(12)
    index = RowIndex(rows)
    entries = {rows.key(0): {"verdict": "good", "locked_text": "x"}}
    order = index.ordered(ListQuery.from_params({"sort": "queue"}), entries)

    def need(i):
        weak = rows.desc_sources[i] in ("auto", "ports")
        return 0 if weak and rows.roles[i] == "top" else 1 if weak else 2
    assert order[-1] == 0 and sorted(order) == list(range(12))
    assert [need(i) for i in order[:-1]] == sorted(need(i) for i in order[:-1])


def client_for(tmp_path, rows):
    app = create_app(rows, tmp_path, curator="cur")
    return TestClient(app, base_url="http://127.0.0.1:8765", follow_redirects=False)


def test_save_and_next_follows_the_list_as_it_stood_and_records_the_curator(tmp_path):
    rows = rows_of(12)
    with client_for(tmp_path, rows) as client:
        page = client.get("/rows/2?sort=queue").text
        csrf = re.search(r'name="csrf" value="([^"]+)"', page).group(1)
        order = RowIndex(rows).ordered(ListQuery.from_params({"sort": "queue"}), {})
        first = order[0]
        sent = client.post(f"/rows/{first}/verdict", data={"csrf": csrf, "verdict": "not-good", "then": "next",
                                                           "ctx_sort": "queue"})
        # The judged row leaves the queue's head; the next row is the one after it before the save.
        assert sent.headers["location"] == f"/rows/{order[1]}?sort=queue&saved=not-good&saved_row={first}"
        shown = client.get(sent.headers["location"]).text
        assert f'id="saved-row">u{first}<' in shown
        last = max(range(12), key=lambda i: (rows.names[i]))
        stays = client.post(f"/rows/{last}/verdict", data={"csrf": csrf, "verdict": "improvable", "then": "next",
                                                           "ctx_sort": "name"})
        assert stays.headers["location"] == f"/rows/{last}?sort=name&saved=improvable"     # the list's end
        history = client.get(f"/rows/{first}").text
        assert 'id="history"' in history and "<td>cur</td>" in history
    entries = json.loads((tmp_path / "descriptions_verdicts.json").read_text())["entries"]
    assert entries[rows.key(first)]["judged_text"] == f"d{first}" and entries[rows.key(first)]["curator"] == "cur"


def test_namespace_search_offers_prefix_matches_first_and_few_of_them(tmp_path):
    rows = rows_of(80)
    with client_for(tmp_path, rows) as client:
        found = client.get("/namespaces", params={"q": "ALP"}).json()
        assert found == [["alpha", 40]]
        many = client.get("/namespaces", params={"q": "7"}).json()
        assert len(many) <= 30 and all("7" in n for n, _ in many)
        assert client.get("/namespaces", params={"q": "eta7"}).json()[0][0].startswith("beta7")
        assert '<option value="beta' not in client.get("/").text     # no dropdown of every namespace
