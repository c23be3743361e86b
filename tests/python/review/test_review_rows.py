"""Rows files as quarrix-scan writes them, and the list page's filters, counts, order and pages."""

import json

import pytest

from quarrix_core.review.row_index import ListQuery, RowIndex
from quarrix_core.review.rows import RowSet, RowsFileError


def test_json_array_and_jsonl_load_alike_and_bad_files_name_the_place(tmp_path, demo_rows):
    as_array = tmp_path / "rows.json"
    as_array.write_text(json.dumps([json.loads(line) for line in demo_rows.read_text().splitlines()]))
    a, b = RowSet.load([demo_rows]), RowSet.load([as_array])
    assert len(a) == len(b) > 0 and a.names == b.names and [a.row(i) for i in range(len(a))] == \
        [b.row(i) for i in range(len(b))]
    assert RowSet.load([demo_rows, as_array]).find("demo_repo", a.names[-1]) == len(a) - 1

    # A row may hold U+2028 and U+2029 unescaped, as quarrix-scan writes them; str.splitlines breaks at them.
    odd = tmp_path / "odd.jsonl"
    odd.write_text('{"name": "a", "namespace": "n", "description": "x\u2028y\u2029z"}\r\n', newline="")
    assert RowSet.load([odd]).descriptions == ["x\u2028y\u2029z"]

    bad = tmp_path / "bad.jsonl"
    bad.write_text('{"name": "a", "namespace": "n"}\n\n{"name": "b", "namespace": \n')
    with pytest.raises(RowsFileError, match=r"bad\.jsonl:3"):
        RowSet.load([bad])
    bad.write_text('[{"name": "a", "namespace": "n"}, {"name": 7, "namespace": "n"}]')
    with pytest.raises(RowsFileError, match="row 2"):
        RowSet.load([bad])
    bad.write_text('["a row must be an object"]')
    with pytest.raises(RowsFileError, match="JSON object"):
        RowSet.load([bad])
    with pytest.raises(RowsFileError, match="cannot read"):
        RowSet.load([tmp_path / "missing.jsonl"])


def make_rows(n):
    rows = RowSet()
    for i in range(n):
        rows.add({"name": f"unit{i:03d}", "namespace": f"ns{i % 3}", "role": ["top", "component", "primitive"][(i // 2) % 3],
                  "desc_source": "auto" if i % 2 else "header", "description": "a FIFO" if i % 5 == 0 else "other",
                  "license": "MIT", "license_class": "permissive", "verified": i % 4 == 0, "tags": ["fifo"] if i == 7 else []})
    return rows


def brute(rows, entries, **filters):
    """The rows a filter keeps, computed row by row."""
    from quarrix_core.review.row_index import verdict_state
    out = []
    for i in range(len(rows)):
        values = {"namespace": rows.namespaces[i], "role": rows.roles[i], "desc_source": rows.desc_sources[i],
                  "license_class": rows.license_classes[i], "verified": rows.verified[i],
                  "verdict": verdict_state(entries, rows.key(i))}
        text = filters.get("q", "").lower().split()
        if all(values[f] == v for f, v in filters.items() if f != "q") and all(w in rows.search_text[i] for w in text):
            out.append(i)
    return out


def test_filters_counts_order_and_pages_agree_with_a_row_by_row_count():
    rows = make_rows(3000)
    index = RowIndex(rows)
    entries = {"ns1/unit001": {"verdict": "good", "locked_text": "x"}, "ns0/unit060": {"verdict": "weird"}}
    filters = {"namespace": "ns0", "verified": "yes", "q": "fifo"}
    result = index.run(ListQuery.from_params({**filters, "sort": "name", "dir": "desc", "per": "100"}), entries)
    kept = brute(rows, entries, **filters)
    assert result.total == len(kept) and result.indices == sorted(kept, key=rows.names.__getitem__, reverse=True)

    # Each filter's counts are over the rows the other filters keep (counted row by row for small
    # groups, by set intersections for large ones: both ways are exercised here).
    for facet in ("namespace", "verified", "role", "verdict"):
        others = {k: v for k, v in filters.items() if k != facet}
        for value, count in result.counts[facet]:
            assert count == len(brute(rows, entries, **others, **{facet: value})), (facet, value)
    assert dict(result.counts["verdict"]) == {"unreviewed": 49, "good": 0, "improvable": 0, "not-good": 0, "other": 1}

    # Pages cover the list once, in order; a page past the end shows the last one.
    query = {"desc_source": "auto", "namespace": "ns1", "per": "200"}
    everything = index.ordered(ListQuery.from_params(query), entries)
    pages = [index.run(ListQuery.from_params({**query, "page": str(p)}), entries) for p in (1, 2, 3, 99)]
    assert pages[0].pages == 3 and pages[-1].page == 3
    assert sum((p.indices for p in pages[:3]), []) == everything
    assert sorted(everything) == brute(rows, entries, desc_source="auto", namespace="ns1")


def test_the_verdict_filter_follows_the_file():
    rows = make_rows(30)
    index = RowIndex(rows)
    good = ListQuery.from_params({"verdict": "good"})
    assert index.run(good, {}).total == 0
    entries = {"ns0/unit000": {"verdict": "good"}, "ns2/unit002": {"verdict": "good"}, "ns1/unit001": None,
               "ns1/unit004": "not a record", "elsewhere/x": {"verdict": "good"}}
    result = index.run(good, entries)
    assert result.indices == [0, 2]
    assert dict(result.counts["verdict"]) == {"unreviewed": 27, "good": 2, "improvable": 0, "not-good": 0, "other": 1}


def test_a_malformed_query_falls_back_to_defaults():
    query = ListQuery.from_params({"page": "-3", "per": "1000000", "sort": "__class__", "dir": "up",
                                   "q": "  many   spaces " + "x" * 500, "role": ""})
    assert (query.page, query.page_size, query.sort, query.descending, query.filters) == (1, 50, "namespace", False, ())
    assert query.text.startswith("many spaces x") and len(query.text) == 200
