"""The registry picture from a batch's graph.json: what the file may hold, what the page and the DOT make of it."""

import json
import os
import re
import shutil
import time
import warnings

import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore")      # newer Starlette asks for httpx2 here; httpx serves the same
    from starlette.testclient import TestClient

from quarrix_core.review import registry
from quarrix_core.review.app import BatchSources, create_app
from quarrix_core.review.rows import RowSet

EVIL = 'evil"</svg><script>alert(1)</script>\n\\N'
GRAPH = {
    "repositories": [
        {"namespace": "pulp.axi", "url": "https://github.com/pulp/axi", "commit": "a" * 40, "status": "scanned",
         "rows": 12},
        {"namespace": "pulp.common_cells", "url": "javascript:alert(2)", "commit": "", "status": "unchanged",
         "rows": 30},
        {"namespace": EVIL, "url": "", "commit": "", "status": "failed", "rows": True},
        {"namespace": "ring.a", "status": "cycle", "rows": 1}, {"namespace": "ring.b", "status": "cycle", "rows": 1},
        {"namespace": "alone", "status": "scanned", "rows": 2},
        {"namespace": "pulp.axi", "status": "failed"}, {"url": "no namespace"}, "not an object",
    ],
    "edges": [
        {"from": "pulp.axi", "to": "pulp.common_cells", "declared_by": ["Bender.yml"], "units": ["fifo_v3", 7]},
        {"from": "pulp.axi", "to": "pulp.common_cells", "declared_by": ["manifest"], "units": ["cf_math_pkg"]},
        {"from": EVIL, "to": "pulp.axi", "declared_by": ["Bender.yml"], "units": []},
        {"from": "ring.a", "to": "ring.b", "units": ["x"]}, {"from": "ring.b", "to": "ring.a", "units": ["y"]},
        {"from": "pulp.axi", "to": "somewhere.else", "units": ["z"]}, {"from": "alone", "to": "alone"}, [],
    ],
}


def test_the_file_is_checked_value_by_value():
    found = registry.parse(GRAPH)
    assert [r.namespace for r in found.repositories] == ["pulp.axi", "pulp.common_cells", EVIL, "ring.a", "ring.b",
                                                         "alone"]
    assert found.repositories[0].status == "scanned" and found.repositories[2].rows is None
    assert [r.mark for r in found.repositories] == ["ok", "ok", "failed", "cycle", "cycle", "ok"]
    # The pair listed twice is one dependency; the unknown end, the self edge and the junk are left out.
    axi = found.edges[0]
    assert (axi.declared_by, axi.units) == (("Bender.yml", "manifest"), ("fifo_v3", "cf_math_pkg"))
    assert len(found.edges) == 4
    assert found.ignored == {"repository entries listed again": 1, "repository entries without a namespace": 2,
                             "edges naming a repository the file does not list": 2,
                             "edges from a repository to itself": 1}
    for doc in ([], {"edges": []}, {"repositories": {}}):
        with pytest.raises(registry.RegistryUnavailable, match="no list of repositories"):
            registry.parse(doc)

    picture = registry.dot_source(found, lambda ns: ns != "ring.b")
    assert picture.drawn == 5 and [r.namespace for r in picture.loose] == ["alone"]
    # Repository strings only inside quoted strings, one statement per line: nothing breaks out.
    assert "<script>" in picture.dot and "\n\\N" not in picture.dot
    assert all(re.fullmatch(r'\s*(r\d+( -> r\d+)? \[.*\];|digraph registry \{|\}|(graph|node|edge) \[.*\];)', line)
               for line in picture.dot.splitlines()), picture.dot
    assert 'label="2 units"' in picture.dot and 'label="unused"' in picture.dot and "style=dashed" in picture.dot
    assert picture.dot.count("URL=") == 4                       # ring.b serves no rows: no link


@pytest.fixture()
def site(tmp_path):
    rows = RowSet()
    for namespace in ("pulp.axi", "pulp.common_cells", EVIL, "ring.a"):
        rows.add({"name": "u", "namespace": namespace, "role": "top", "description": "d"})
    (tmp_path / "index").mkdir()
    work = tmp_path / "work"
    work.mkdir()
    app = create_app(rows, tmp_path / "index", batch=BatchSources(registry_file=work / registry.GRAPH_FILE))
    with TestClient(app, base_url="http://127.0.0.1:8765") as client:
        yield client, work / registry.GRAPH_FILE


def test_the_page_draws_the_file_and_says_why_when_it_cannot(site):
    client, path = site
    page = client.get("/registry")
    assert page.status_code == 200 and "wrote no dependency graph yet" in page.text
    assert 'href="/registry"' in client.get("/").text

    path.write_text(json.dumps(GRAPH))
    page = client.get("/registry").text
    assert EVIL not in page and "<script>alert" not in page and 'href="javascript:' not in page
    assert "Left out of graph.json" in page and "2 edges naming a repository the file does not list" in page
    if shutil.which("dot"):
        svg = page.split('id="graph">')[1]
        assert svg.count("<svg") == 1 and svg.count("</svg>") == 1
        assert 'href="/?namespace=pulp.axi"' in svg and 'href="/?namespace=evil%22%3C%2Fsvg%3E' in svg
        assert "2 units" in svg and 'stroke-dasharray' in svg
    assert 'class="mark-failed"' in page and 'class="mark-cycle"' in page

    # The batch writes the file again at the end of its next run: the page follows.
    path.write_text(json.dumps({"repositories": [{"namespace": "pulp.axi", "status": "scanned", "rows": 3}]}))
    os.utime(path, ns=(time.time_ns() + 10**9,) * 2)
    page = client.get("/registry").text
    assert "1 repository,\n0 dependencies" in page and 'id="loose"' in page

    for text, said in (("{", "not valid JSON"), ('{"repositories": 3}', "no list of repositories"),
                       (b"\xff", "not UTF-8")):
        path.write_bytes(text if isinstance(text, bytes) else text.encode())
        assert said in client.get("/registry").text
    path.unlink()
    os.mkfifo(path)
    start = time.monotonic()
    assert "a FIFO, not a regular file" in client.get("/registry").text and time.monotonic() - start < 5


def test_rows_files_have_no_registry(tmp_path):
    rows = RowSet()
    rows.add({"name": "u", "namespace": "n"})
    with TestClient(create_app(rows, tmp_path), base_url="http://127.0.0.1:8765") as client:
        assert "--batch WORK_DIR" in client.get("/registry").text and 'href="/registry"' not in client.get("/").text
