"""The repository picture: direct uses only, loose units packed apart, drawings kept on disk."""

import shutil

import pytest

from quarrix_core.review import graph
from quarrix_core.review.rows import RowSet


def unit(name, role, files, components=None):
    row = {"name": name, "namespace": "r", "role": role, "description": name,
           "quarrix_compat": {"language": "verilog", "library": "work", "files": files}}
    if components is not None:
        row["components"] = components
    return row


def repo():
    rows = RowSet()
    for row in [
        unit("leaf", "primitive", ["rtl/leaf.v"]),
        unit("mid", "component", ["rtl/leaf.v", "rtl/mid.v"]),
        # The top's compile list holds leaf too, through mid; its components name every component.
        unit("top", "top", ["rtl/leaf.v", "rtl/mid.v", "rtl/top.v"], components=["mid", "leaf", "alone"]),
        unit("alone", "component", ["lib/alone.v"]),
        unit("old", "top", ["old/old.v"], components=["gone"]),
    ]:
        rows.add(row)
    return rows


def test_only_direct_uses_are_drawn_and_loose_units_are_packed_by_directory():
    rows = repo()
    _, _, edges = graph.hierarchy(rows, "r")
    assert sorted(edges) == [("mid", "leaf"), ("old", "gone"), ("top", "mid")]
    picture = graph.dot_source(rows, "r", lambda i: f"/rows/{i}")
    assert picture.loose == {"lib": [("alone", 3)]} and picture.drawn == 5      # "gone" is drawn without a row
    assert 'label="rtl/"' in picture.dot


@pytest.mark.skipif(shutil.which("dot") is None, reason="needs Graphviz")
def test_a_drawing_is_kept_and_a_tampered_one_is_drawn_again(tmp_path, monkeypatch):
    text = graph.dot_source(repo(), "r", lambda i: f"/rows/{i}").dot
    svg = graph.render_cached(text, tmp_path)
    (kept,) = tmp_path.glob("*.svg")
    monkeypatch.setattr(graph, "render_svg", lambda _: pytest.fail("drawn again"))
    assert graph.render_cached(text, tmp_path) == svg
    kept.write_text('<svg xmlns="http://www.w3.org/2000/svg"><script>alert(1)</script></svg>')
    monkeypatch.undo()
    assert "<script" not in graph.render_cached(text, tmp_path)
