"""The review web application: list, row and repository pages and the verdict form."""

from __future__ import annotations

import dataclasses
import getpass
import hmac
import json
import os
import secrets
from datetime import datetime, timezone
from pathlib import Path
from urllib.parse import urlencode, urlsplit

from jinja2 import Environment, FileSystemLoader, select_autoescape
from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.exceptions import HTTPException
from starlette.middleware import Middleware
from starlette.middleware.trustedhost import TrustedHostMiddleware
from starlette.requests import Request
from starlette.responses import HTMLResponse, JSONResponse, RedirectResponse
from starlette.routing import Mount, Route
from starlette.staticfiles import StaticFiles

from . import graph, registry, source_view
from .interface import CACHE_DIR, InterfaceCache, UnitFiles
from .guards import BodyLimit, SecurityHeaders
from .row_index import FACETS, PAGE_SIZES, SORTS, VERDICT_STATES, ListQuery, RowIndex, verdict_state
from .rows import RowSet
from .scanned_source import ScannedSource
from .sources import SourceTree, SourceUnavailable, UnitSource, own_file
from .verdict_file import HISTORY_FIELD, VerdictFile, VerdictFileBusy, VerdictFileError

HERE = Path(__file__).resolve().parent
LOOPBACK_NAMES = ["127.0.0.1", "localhost", "::1"]
UNIT_ROLES = ("top", "component", "primitive")
FACET_LABELS = {"namespace": "Namespace", "role": "Role", "desc_source": "Description source",
                "license_class": "Licence class", "verified": "Verified", "verdict": "Verdict"}
SORT_LABELS = {"namespace": "Namespace", "name": "Name", "role": "Role", "desc_source": "Source",
               "license": "Licence", "verified": "Verified", "verdict": "Verdict", "queue": "Queue"}
MAX_SUGGESTIONS = 30
# List parameters a row page carries so that next/previous follow the list it came from.
CONTEXT_PARAMS = (*FACETS, "q", "sort", "dir")


def safe_link(url) -> str | None:
    """`url` when it is an absolute http(s) address without user info, else None: a row's URL is not trusted."""
    if not isinstance(url, str):
        return None
    try:
        parts = urlsplit(url.strip())
    except ValueError:
        return None
    if parts.scheme not in ("http", "https") or not parts.netloc or "@" in parts.netloc:
        return None
    return url.strip()


def login_name() -> str:
    try:
        return getpass.getuser()
    except (KeyError, OSError):       # no user name in the environment nor the password database
        return "unknown"


@dataclasses.dataclass
class BatchSources:
    """What a batch adds to its rows: the ScannedCheckout of each row, and its graph.json (which it may write
    again while we serve)."""

    checkouts: list | None = None
    registry_file: str | os.PathLike | None = None


class Review:
    """What the pages share: the rows, their index, the verdict file and the sources."""

    def __init__(self, rows: RowSet, index_dir, repo_root=None, curator: str | None = None,
                 batch: BatchSources | None = None):
        batch = batch or BatchSources()
        self.rows = rows
        self.checkouts = batch.checkouts          # a batch's rows: the ScannedCheckout of each row
        self.registry_file = batch.registry_file  # a batch's graph.json
        self.curator = curator or login_name()
        self.namespace_names = sorted(rows.by_namespace, key=str.lower)
        self.index = RowIndex(rows)
        self.verdicts = VerdictFile(index_dir)
        self.sources = SourceTree(repo_root)
        self.interfaces = InterfaceCache(index_dir)
        self.graph_cache = Path(index_dir) / CACHE_DIR / "graphs"
        self.csrf_token = secrets.token_urlsafe(32)
        self._graphs: dict = {}
        self._registry: tuple = (None, None)
        self.index.warm(self.verdicts.state().entries)

    def namespaces_like(self, typed: str) -> list:
        """Namespaces that start with `typed`, then those that contain it (case ignored), with row counts."""
        typed = typed.strip().lower()
        starts = [n for n in self.namespace_names if n.lower().startswith(typed)]
        if len(starts) < MAX_SUGGESTIONS:
            starts += [n for n in self.namespace_names if typed in n.lower() and not n.lower().startswith(typed)]
        return [[n, len(self.rows.by_namespace[n])] for n in starts[:MAX_SUGGESTIONS]]

    def source(self, index: int, path: str) -> tuple[UnitSource, SourceTree | None, str]:
        """(the unit's source, the tree its parsers read or None, why there is none)."""
        if self.checkouts is None:
            return self.sources.unit(self.rows.namespaces[index], path), self.sources, ""
        scanned = ScannedSource(self.checkouts[index])
        unit = scanned.unit(path)
        return (unit, *scanned.parse_tree())

    def forge_ref(self, index: int, row: dict) -> str | None:
        """The scanned commit of a batch row (None when no commit holds its text), else the row's tag."""
        if self.checkouts is not None:
            scanned = self.checkouts[index]
            return scanned.commit if scanned.commit and not scanned.dirty else None
        origin = row.get("source")
        return origin.get("tag") if isinstance(origin, dict) else None

    def row_url(self, index: int, context: dict | None = None) -> str:
        return f"/rows/{index}" + (f"?{urlencode(context)}" if context else "")

    def graph(self, namespace: str):
        """(svg, picture) for a namespace, drawn once per server and kept under the index."""
        if namespace not in self._graphs:
            picture = graph.dot_source(self.rows, namespace, self.row_url)
            svg = graph.render_cached(picture.dot, self.graph_cache) if picture.drawn else ""
            self._graphs[namespace] = (svg, picture)
        return self._graphs[namespace]

    def registry_picture(self):
        """(registry, picture, svg, why there is no picture) as graph.json stands now; read again when it changes."""
        try:
            st = os.stat(self.registry_file)
            key = (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns)
        except OSError:
            key = None
        cached_key, cached = self._registry
        if cached is not None and key is not None and key == cached_key:
            return cached
        found = registry.load(self.registry_file)
        picture = registry.dot_source(found, self.rows.by_namespace.__contains__)
        svg, problem = "", ""
        if picture.drawn:
            try:
                svg = graph.render_cached(picture.dot, self.graph_cache)
            except graph.GraphUnavailable as exc:
                problem = str(exc)
        result = (found, picture, svg, problem)
        if not problem:
            self._registry = (key, result)
        return result


def _templates(review: Review) -> Environment:
    env = Environment(loader=FileSystemLoader(HERE / "templates"),
                      autoescape=select_autoescape(["html"], default_for_string=True, default=True))
    env.globals.update(facets=FACETS, facet_labels=FACET_LABELS, sorts=SORTS, sort_labels=SORT_LABELS,
                       page_sizes=PAGE_SIZES, verdict_states=VERDICT_STATES, csrf_token=review.csrf_token,
                       safe_link=safe_link, row_url=review.row_url)
    env.filters["pretty_json"] = lambda value: json.dumps(value, indent=2, ensure_ascii=False)
    return env


@dataclasses.dataclass
class RowNotes:
    """What a row page says besides the row: a verdict just saved, a save that failed (with its status), the
    text the form sent back, and the row saved before this one."""

    saved: str = ""
    error: str = ""
    status_code: int = 200
    text: str | None = None
    saved_row: int | None = None


class _Pages:
    """The handlers of the review's pages, over one Review."""

    def __init__(self, review: Review):
        self.review, self.rows, self.env = review, review.rows, _templates(review)

    def render(self, name: str, status_code: int = 200, **context) -> HTMLResponse:
        state = self.review.verdicts.state()
        html = self.env.get_template(name).render(file_state=state, verdict_path=str(self.review.verdicts.path),
                                                  **context)
        return HTMLResponse(html, status_code=status_code)

    def check_post(self, request: Request, form) -> None:
        """A state change must come from our own page: same origin, our token."""
        origin = request.headers.get("origin")
        if origin and origin != "null" and urlsplit(origin).netloc != request.headers.get("host"):
            raise HTTPException(403, "Cross-origin request refused")
        token = form.get("csrf", "")
        if not isinstance(token, str) or not hmac.compare_digest(token.encode(), self.review.csrf_token.encode()):
            raise HTTPException(403, "Missing or wrong form token; reload the page and try again")

    def row_index(self, request: Request) -> int:
        index = request.path_params["index"]
        if not 0 <= index < len(self.rows):
            raise HTTPException(404, f"No row {index}")
        return index

    def list_page(self, request: Request):
        review, rows = self.review, self.rows
        query = ListQuery.from_params(request.query_params)
        typed, unknown_namespace = query.value("namespace"), ""
        if typed and typed not in rows.by_namespace:
            # Part of a name, as the type-ahead box sends it on Enter: its first suggestion, else say so.
            suggested = review.namespaces_like(typed)
            if suggested:
                return RedirectResponse("/?" + urlencode(query.params(namespace=suggested[0][0], page=None)),
                                        status_code=303)
            unknown_namespace, query = typed, dataclasses.replace(
                query, filters=tuple(f for f in query.filters if f[0] != "namespace"))
        entries = review.verdicts.state().entries
        result = review.index.run(query, entries)
        context = {k: v for k, v in query.params(page=None, per=None).items() if k in CONTEXT_PARAMS}
        return self.render("list.html", query=query, result=result, rows=rows, context=context,
                           states={i: verdict_state(entries, rows.key(i)) for i in result.indices},
                           namespaces=len(rows.by_namespace), batch=review.registry_file is not None,
                           unknown_namespace=unknown_namespace)

    def row_page(self, request: Request):
        context = {k: v for k, v in request.query_params.items() if k in CONTEXT_PARAMS and v}
        saved_row = request.query_params.get("saved_row", "")
        saved_row = int(saved_row) if saved_row.isdigit() and int(saved_row) < len(self.rows) else None
        return self.render_row(self.row_index(request), context,
                               RowNotes(saved=request.query_params.get("saved", ""), saved_row=saved_row))

    def unit_interface(self, index: int, row: dict, path: str | None) -> tuple:
        """(the unit's source or None, its parsed interface or None, why it was not parsed, why it has no source)."""
        review, rows = self.review, self.rows
        unit = source_problem = iface = None
        parse_problem = ""
        if rows.roles[index] not in UNIT_ROLES:
            source_problem = "a repository or subproject row has no single source file"
        elif path is None:
            source_problem = "the row lists no source file"
        else:
            try:
                unit, tree, parse_problem = review.source(index, path)
                if tree is not None:
                    compat = row.get("quarrix_compat") or {}
                    files = [f for f in compat.get("files", []) if isinstance(f, str)]
                    language, library = compat.get("language"), compat.get("library")
                    namespace = rows.namespaces[index]
                    iface = review.interfaces.get(UnitFiles(
                        rows.names[index], language if isinstance(language, str) else "",
                        library if isinstance(library, str) else "work", tree.compile_list(namespace, files),
                        tree.root, tree.checkout(namespace)))
            except SourceUnavailable as exc:
                source_problem = str(exc)
        return unit, iface, parse_problem, source_problem

    def render_row(self, index: int, context: dict, notes: RowNotes | None = None):
        review, rows = self.review, self.rows
        entries = review.verdicts.state().entries
        ordered = review.index.ordered(ListQuery.from_params(context), entries)
        try:
            position = ordered.index(index)
        except ValueError:
            position = None
        row = rows.row(index)
        record = entries.get(rows.key(index))
        record = record if isinstance(record, dict) else None
        notes = notes or RowNotes()
        text = notes.text
        if text is None:
            locked = record.get("locked_text") if record else None
            text = locked if isinstance(locked, str) and locked.strip() else rows.descriptions[index]
        path = own_file(row)
        unit, iface, parse_problem, source_problem = self.unit_interface(index, row, path)
        first, last = (iface.first_line, iface.last_line) if iface else (0, 0)
        source = source_view.highlighted(unit.path, unit.text, first, last) if unit is not None else None
        origin = row.get("source") if isinstance(row.get("source"), dict) else {}
        forge_ref = review.forge_ref(index, row)
        # A unit's file, else the repository's tree, at the scanned commit (or the row's tag).
        forge = source_view.forge_link(origin.get("url"), forge_ref,
                                       path if path and rows.roles[index] in UNIT_ROLES else "", first, last)
        history = (record or {}).get(HISTORY_FIELD)
        return self.render(
            "row.html", status_code=notes.status_code, index=index, row=row, rows=rows, record=record,
            state=verdict_state(entries, rows.key(index)), text=text, unit=unit, iface=iface, source=source,
            forge=forge, forge_ref=forge_ref, pinned=review.checkouts is not None, parse_problem=parse_problem,
            saved_row=notes.saved_row, curator=review.curator,
            history=[h for h in history if isinstance(h, dict)] if isinstance(history, list) else [],
            source_problem=source_problem, context=context, error=notes.error, saved=notes.saved,
            position=position, total=len(ordered), prev_index=ordered[position - 1] if position else None,
            next_index=ordered[position + 1] if position is not None and position + 1 < len(ordered) else None)

    def next_in_list(self, index: int, context: dict):
        """The row after `index` in the list it was opened from, as that list stands before the save."""
        ordered = self.review.index.ordered(ListQuery.from_params(context), self.review.verdicts.state().entries)
        try:
            position = ordered.index(index)
        except ValueError:
            return None
        return ordered[position + 1] if position + 1 < len(ordered) else None

    async def set_verdict(self, request: Request):
        review, rows = self.review, self.rows
        index = self.row_index(request)
        form = await request.form()
        self.check_post(request, form)
        verdict, text = form.get("verdict", ""), form.get("locked_text", "")
        context = {k: v for k, v in form.items() if k.startswith("ctx_") and v}
        context = {k[4:]: v for k, v in context.items() if k[4:] in CONTEXT_PARAMS}
        # A description is one line: the box's line breaks and stray spaces would be published as they are.
        text = " ".join(text.split()) if isinstance(text, str) else ""
        following = (await run_in_threadpool(self.next_in_list, index, context) if form.get("then") == "next"
                     else None)
        provenance = {"curator": review.curator,
                      "judged_at": datetime.now(timezone.utc).isoformat(timespec="seconds").replace("+00:00", "Z"),
                      "judged_text": rows.descriptions[index], "judged_source": rows.desc_sources[index]}
        try:
            await run_in_threadpool(review.verdicts.set_verdict, rows.key(index), verdict, text, provenance)
        except VerdictFileError as exc:
            # The form comes back as sent: busy is worth another try, anything else needs the file repaired.
            busy = isinstance(exc, VerdictFileBusy)
            page = await run_in_threadpool(self.render_row, index, context,
                                           RowNotes(error=str(exc), status_code=503 if busy else 409, text=text))
            if busy:
                page.headers["Retry-After"] = "5"
            return page
        if following is not None:
            return RedirectResponse(review.row_url(following, {**context, "saved": verdict, "saved_row": index}),
                                    status_code=303)
        return RedirectResponse(review.row_url(index, {**context, "saved": verdict}), status_code=303)

    def namespaces(self, request: Request):
        return JSONResponse(self.review.namespaces_like(request.query_params.get("q", "")[:200]))

    async def convert(self, request: Request):
        form = await request.form()
        self.check_post(request, form)
        try:
            await run_in_threadpool(self.review.verdicts.convert_flat)
        except VerdictFileError as exc:
            return self.render("message.html", status_code=503 if isinstance(exc, VerdictFileBusy) else 409,
                               title="Not converted", message=str(exc))
        return RedirectResponse("/", status_code=303)

    def repo_page(self, request: Request):
        review, rows = self.review, self.rows
        namespace = request.query_params.get("namespace", "")
        members = rows.by_namespace.get(namespace)
        if not members:
            raise HTTPException(404, "No rows in that namespace")
        svg, problem, picture = "", "", None
        try:
            svg, picture = review.graph(namespace)
        except graph.GraphUnavailable as exc:
            problem = str(exc)
            picture = graph.dot_source(rows, namespace, review.row_url)
        entries = review.verdicts.state().entries
        return self.render("repo.html", namespace=namespace, members=members, rows=rows, svg=svg, problem=problem,
                           picture=picture, states={i: verdict_state(entries, rows.key(i)) for i in members})

    def registry_page(self, request: Request):
        if self.review.registry_file is None:
            return self.render("message.html", title="No registry picture",
                               message="The registry picture shows a batch's repositories and their dependencies: "
                                       "start quarrix-review with --batch WORK_DIR to see it.")
        try:
            found, picture, svg, problem = self.review.registry_picture()
        except registry.RegistryUnavailable as exc:
            return self.render("registry.html", found=None, problem=str(exc))
        return self.render("registry.html", found=found, picture=picture, svg=svg, problem=problem,
                           served=self.rows.by_namespace, units_phrase=registry.units_phrase,
                           rows_url=registry.rows_url)

    async def http_error(self, request: Request, exc: HTTPException):
        return self.render("message.html", status_code=exc.status_code, title=f"Error {exc.status_code}",
                           message=exc.detail)


def create_app(rows: RowSet, index_dir, repo_root=None, allowed_hosts=None, curator: str | None = None,
               batch: BatchSources | None = None) -> Starlette:
    review = Review(rows, index_dir, repo_root, curator, batch)
    pages = _Pages(review)
    routes = [
        Route("/", pages.list_page),
        Route("/rows/{index:int}", pages.row_page),
        Route("/rows/{index:int}/verdict", pages.set_verdict, methods=["POST"]),
        Route("/repo", pages.repo_page),
        Route("/registry", pages.registry_page),
        Route("/namespaces", pages.namespaces),
        Route("/verdict-file/convert", pages.convert, methods=["POST"]),
        Mount("/static", StaticFiles(directory=HERE / "static"), name="static"),
    ]
    middleware = [
        Middleware(SecurityHeaders),
        Middleware(TrustedHostMiddleware, allowed_hosts=allowed_hosts or LOOPBACK_NAMES),
        Middleware(BodyLimit),
    ]
    app = Starlette(routes=routes, middleware=middleware, exception_handlers={HTTPException: pages.http_error})
    app.state.review = review
    return app
