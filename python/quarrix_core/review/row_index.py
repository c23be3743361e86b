"""Filtering, counting, sorting and paging the rows for the list page.

Each filter value holds its rows as a bitmap (a Python int, bit i for row i),
built once. A request ANDs the bitmaps of its filters and counts bits, all in
C over 12.5 KB for 100 000 rows, so its cost does not grow with a Python step
per row per filter. Counts per filter are taken over the rows the other
filters keep, the usual faceted-search rule: choosing a value shows how many
rows each other choice would give.
"""

from __future__ import annotations

import dataclasses
import threading
from typing import Mapping

from .rows import RowSet
from .verdict_file import VERDICTS

FACETS = ("namespace", "role", "desc_source", "license_class", "verified", "verdict")
SORTS = ("namespace", "name", "role", "desc_source", "license", "verified", "verdict", "queue")
# Descriptions made from ports or filler words, the ones most in need of a curator's eye.
WEAK_SOURCES = ("auto", "ports")
PAGE_SIZES = (50, 100, 200)
UNREVIEWED = "unreviewed"
OTHER_VERDICT = "other"     # a record whose verdict is none of the three known words
VERDICT_STATES = (UNREVIEWED, *VERDICTS, OTHER_VERDICT)
MAX_QUERY_CHARS = 200
_BITS_OF_BYTE = [tuple(b for b in range(8) if byte >> b & 1) for byte in range(256)]


def verdict_state(entries: Mapping, key: str) -> str:
    record = entries.get(key)
    if record is None:
        return UNREVIEWED
    verdict = record.get("verdict") if isinstance(record, dict) else None
    return verdict if verdict in VERDICTS else OTHER_VERDICT


def bitmap(indices) -> int:
    """The bitmap of a collection of row numbers."""
    indices = list(indices)
    if not indices:
        return 0
    buf = bytearray(max(indices) // 8 + 1)
    for i in indices:
        buf[i >> 3] |= 1 << (i & 7)
    return int.from_bytes(buf, "little")


def row_numbers(bits: int) -> list:
    """The row numbers of a bitmap, ascending."""
    out = []
    for position, byte in enumerate(bits.to_bytes((bits.bit_length() + 7) // 8, "little")):
        if byte:
            base = position << 3
            out.extend(base + b for b in _BITS_OF_BYTE[byte])
    return out


def popcount(bits: int) -> int:
    return bits.bit_count() if hasattr(bits, "bit_count") else bin(bits).count("1")


@dataclasses.dataclass(frozen=True)
class ListQuery:
    """What the list page was asked for, read leniently from the URL."""

    filters: tuple = ()            # ((facet, value), ...) in FACETS order, only the chosen ones
    text: str = ""
    sort: str = "namespace"
    descending: bool = False
    page: int = 1
    page_size: int = PAGE_SIZES[0]

    @classmethod
    def from_params(cls, params: Mapping[str, str]) -> "ListQuery":
        filters = tuple((f, params[f]) for f in FACETS if params.get(f))
        sort = params.get("sort", "namespace")
        try:
            page = max(1, int(params.get("page", "1")))
        except ValueError:
            page = 1
        try:
            page_size = int(params.get("per", PAGE_SIZES[0]))
        except ValueError:
            page_size = PAGE_SIZES[0]
        return cls(filters=filters,
                   text=" ".join(params.get("q", "").split())[:MAX_QUERY_CHARS],
                   sort=sort if sort in SORTS else "namespace",
                   descending=params.get("dir") == "desc",
                   page=page,
                   page_size=page_size if page_size in PAGE_SIZES else PAGE_SIZES[0])

    def params(self, **changes) -> dict:
        """URL parameters of this query with `changes` applied (None removes one)."""
        out = dict(self.filters)
        if self.text:
            out["q"] = self.text
        if self.sort != "namespace":
            out["sort"] = self.sort
        if self.descending:
            out["dir"] = "desc"
        if self.page != 1:
            out["page"] = str(self.page)
        if self.page_size != PAGE_SIZES[0]:
            out["per"] = str(self.page_size)
        for name, value in changes.items():
            if value is None or value == "":
                out.pop(name, None)
            else:
                out[name] = str(value)
        return out

    def value(self, facet: str) -> str:
        return dict(self.filters).get(facet, "")


@dataclasses.dataclass
class ListResult:
    total: int                    # rows the query keeps
    page: int                     # the page shown, clamped to the last one
    pages: int
    indices: list                 # row numbers on the page, in order
    counts: dict                  # facet -> [(value, count)], every value the rows hold


class _VerdictColumn:
    """The verdict state of every row for one version of the verdict map.

    Built from the map's records, not by looking up every row: after a save the
    next list request pays for the reviewed rows only (plus a few list copies).
    """

    def __init__(self, rows_by_key: Mapping, row_count: int, entries: Mapping):
        self.entries = entries
        order = {state: n for n, state in enumerate(VERDICT_STATES)}
        self.sort_key = [0] * row_count
        postings: dict = {}
        for key, record in entries.items():
            found = rows_by_key.get(key)
            if found is None or record is None:      # a null record is no verdict, as for verdict_state
                continue
            verdict = record.get("verdict") if isinstance(record, dict) else None
            state = verdict if verdict in VERDICTS else OTHER_VERDICT
            for i in found:
                self.sort_key[i] = order[state]
            postings.setdefault(state, []).extend(found)
        self.bitmaps = {state: bitmap(ix) for state, ix in postings.items()}
        reviewed = 0
        for bits in self.bitmaps.values():
            reviewed |= bits
        self.bitmaps[UNREVIEWED] = ((1 << row_count) - 1) & ~reviewed
        self.totals = {state: popcount(bits) for state, bits in self.bitmaps.items()}


class RowIndex:
    def __init__(self, rows: RowSet):
        self.rows = rows
        self.columns = {"namespace": rows.namespaces, "role": rows.roles, "desc_source": rows.desc_sources,
                        "license_class": rows.license_classes, "verified": rows.verified}
        self._lock = threading.Lock()
        self._bitmaps: dict = {}       # facet -> value -> bitmap of its rows
        self._totals: dict = {}        # facet -> value -> number of rows
        for facet, column in self.columns.items():
            postings: dict = {}
            for i, value in enumerate(column):
                postings.setdefault(value, []).append(i)
            self._bitmaps[facet] = {value: bitmap(ix) for value, ix in postings.items()}
            self._totals[facet] = {value: len(ix) for value, ix in postings.items()}
        self._orders: dict = {}        # sort -> row numbers in ascending order (static sorts)
        self._ranks: dict = {}         # sort -> rank of each row (static sorts)
        self._words: dict = {}         # search word -> bitmap, a bounded cache
        self._verdicts: _VerdictColumn | None = None
        self._rows_by_key: dict = {}
        for i in range(len(rows)):
            self._rows_by_key.setdefault(rows.key(i), []).append(i)

    def warm(self, entries: Mapping) -> None:
        """Build what the first requests would otherwise wait for."""
        self._verdict_column(entries)
        for sort in SORTS:
            if sort != "verdict":
                self._rank(sort)

    # -- building blocks -------------------------------------------------------

    def _verdict_column(self, entries: Mapping) -> _VerdictColumn:
        current = self._verdicts
        if current is None or current.entries is not entries:
            current = _VerdictColumn(self._rows_by_key, len(self.rows), entries)
            self._verdicts = current
        return current

    def _bitmaps_of(self, facet: str, verdicts: _VerdictColumn) -> dict:
        return verdicts.bitmaps if facet == "verdict" else self._bitmaps[facet]

    def _word_bitmap(self, word: str) -> int:
        found = self._words.get(word)
        if found is None:
            found = bitmap(i for i, text in enumerate(self.rows.search_text) if word in text)
            with self._lock:
                if len(self._words) >= 256:
                    self._words.clear()
                self._words[word] = found
        return found

    def _sort_key(self, sort: str):
        rows = self.rows
        if sort == "name":
            return lambda i: (rows.names[i].lower(), rows.namespaces[i].lower(), i)
        if sort == "namespace":
            return lambda i: (rows.namespaces[i].lower(), rows.names[i].lower(), i)
        if sort == "queue":
            # Weak descriptions of tops first, then weak ones of other units, then the rest.
            return lambda i: (0 if rows.desc_sources[i] in WEAK_SOURCES and rows.roles[i] == "top" else
                              1 if rows.desc_sources[i] in WEAK_SOURCES else 2,
                              rows.namespaces[i].lower(), rows.names[i].lower(), i)
        col = {"role": rows.roles, "desc_source": rows.desc_sources, "license": rows.licenses,
               "verified": rows.verified}[sort]
        return lambda i: (col[i].lower(), rows.namespaces[i].lower(), rows.names[i].lower(), i)

    def _rank(self, sort: str) -> list:
        rank = self._ranks.get(sort)
        if rank is None:
            order = sorted(range(len(self.rows)), key=self._sort_key(sort))
            rank = [0] * len(order)
            for position, i in enumerate(order):
                rank[i] = position
            with self._lock:
                self._orders[sort], self._ranks[sort] = order, rank
        return rank

    def _matching(self, query: ListQuery, verdicts: _VerdictColumn, skip: str | None = None):
        """The bitmap of the rows every filter but `skip` keeps; None when no filter applies."""
        maps = [self._bitmaps_of(f, verdicts).get(v, 0) for f, v in query.filters if f != skip]
        maps += [self._word_bitmap(w) for w in query.text.lower().split()]
        if not maps:
            return None
        kept = maps[0]
        for bits in maps[1:]:
            kept &= bits
        return kept

    # -- queries ---------------------------------------------------------------

    def ordered(self, query: ListQuery, entries: Mapping) -> list:
        """Every row the query keeps, in its order."""
        verdicts = self._verdict_column(entries)
        return self._order(query, verdicts, self._matching(query, verdicts))

    def _order(self, query: ListQuery, verdicts: _VerdictColumn, matched) -> list:
        keep = range(len(self.rows)) if matched is None else row_numbers(matched)
        if query.sort == "verdict":
            namespace_rank = self._rank("namespace")
            state = verdicts.sort_key
            return sorted(keep, key=lambda i: (state[i], namespace_rank[i]), reverse=query.descending)
        if query.sort == "queue":
            # Rows without a verdict come first; sort_key 0 is unreviewed.
            need, state = self._rank("queue"), verdicts.sort_key
            return sorted(keep, key=lambda i: (state[i] != 0, need[i]), reverse=query.descending)
        rank = self._rank(query.sort)
        if matched is None:
            order = self._orders[query.sort]
            return order[::-1] if query.descending else order
        return sorted(keep, key=rank.__getitem__, reverse=query.descending)

    def run(self, query: ListQuery, entries: Mapping) -> ListResult:
        verdicts = self._verdict_column(entries)
        matched = self._matching(query, verdicts)
        ordered = self._order(query, verdicts, matched)
        pages = max(1, -(-len(ordered) // query.page_size))
        page = min(query.page, pages)
        start = (page - 1) * query.page_size
        return ListResult(total=len(ordered), page=page, pages=pages,
                          indices=ordered[start:start + query.page_size],
                          counts=self._counts(query, verdicts, matched))

    def _counts(self, query: ListQuery, verdicts: _VerdictColumn, matched) -> dict:
        chosen = {f for f, _ in query.filters}
        counts = {}
        for facet in FACETS:
            totals = verdicts.totals if facet == "verdict" else self._totals[facet]
            base = self._matching(query, verdicts, skip=facet) if facet in chosen else matched
            if base is None:
                counted = totals
            else:
                counted = {v: popcount(base & bits) for v, bits in self._bitmaps_of(facet, verdicts).items()}
            values = VERDICT_STATES if facet == "verdict" else sorted(totals, key=str.lower)
            counts[facet] = [(value, counted.get(value, 0)) for value in values]
        return counts
