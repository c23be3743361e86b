"""A unit's source as the page shows it: highlighted by Pygments, the declaration marked, and where
the same lines live on the forge at the scanned commit."""

from __future__ import annotations

import os
import re
from urllib.parse import quote, urlsplit

from markupsafe import Markup
from pygments import highlight
from pygments.formatters import HtmlFormatter
from pygments.lexers import SystemVerilogLexer, VerilogLexer, VhdlLexer

MAX_SHOWN_LINES = 4000
_SCP = re.compile(r"^(?:[\w.-]+@)?([\w-]+(?:\.[\w-]+)+):(?!//)(.+)$")     # git@host:owner/repo.git


def lexer_for(path: str):
    suffix = os.path.splitext(path)[1].lower()
    if suffix in (".vhd", ".vhdl"):
        return VhdlLexer(stripnl=False)
    if suffix in (".sv", ".svh", ".svi"):
        return SystemVerilogLexer(stripnl=False)
    return VerilogLexer(stripnl=False)


def highlighted(path: str, text: str, first: int = 0, last: int = 0) -> tuple[Markup, bool]:
    """(HTML of the file's first MAX_SHOWN_LINES lines, with lines first..last marked; whether cut)."""
    lines = text.splitlines()
    cut = len(lines) > MAX_SHOWN_LINES
    shown = "\n".join(lines[:MAX_SHOWN_LINES]) + "\n"
    marked = list(range(first, min(last, MAX_SHOWN_LINES) + 1)) if first else []
    formatter = HtmlFormatter(linenos="inline", lineanchors="L", anchorlinenos=True, hl_lines=marked,
                              cssclass="highlight", wrapcode=True)
    # Pygments escapes every token itself, so what it returns is safe to embed.
    return Markup(highlight(shown, lexer_for(path), formatter)), cut


# The forges whose web addresses we know, by host; a host whose first label is
# "gitlab", "gitea" or "forgejo" is taken for a self-hosted instance of that forge.
FORGE_HOSTS = {"github.com": "github", "gitlab.com": "gitlab", "codeberg.org": "gitea", "gitea.com": "gitea",
               "bitbucket.org": "bitbucket"}
_FORGE_PREFIXES = {"gitlab": "gitlab", "gitea": "gitea", "forgejo": "gitea"}
_SEGMENT = re.compile(r"^[A-Za-z0-9._-]+$")
_COMMIT = re.compile(r"^(?:[0-9a-f]{40}|[0-9a-f]{64})$")
_CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")


def _forge_kind(host: str) -> str | None:
    if "." not in host:
        return None
    return FORGE_HOSTS.get(host) or _FORGE_PREFIXES.get(host.split(".", 1)[0])


def forge_base(url) -> tuple[str, str] | None:
    """(forge kind, the repository's web address) from its clone URL, or None.

    https, http, ssh, git and the scp-like git@host:path are read; a URL with
    a password, or with any user info but ssh's user name, gives None (a
    token must not reach the page), as does a host that is not a known forge
    or a path that is not plain owner/name segments.
    """
    url = url.strip() if isinstance(url, str) else ""
    if not url or _CONTROL.search(url) or " " in url:
        return None
    found = _SCP.match(url) if "://" not in url else None
    try:
        if found:
            host, path, port = found.group(1).lower(), found.group(2), None
        else:
            parts = urlsplit(url)
            if parts.scheme not in ("http", "https", "ssh", "git") or not parts.hostname or parts.password:
                return None
            if parts.username and parts.scheme != "ssh":
                return None
            # ssh's and git's ports are not the web server's.
            host, path, port = parts.hostname, parts.path, parts.port if parts.scheme.startswith("http") else None
    except ValueError:          # a port that is not a number
        return None
    kind = _forge_kind(host)
    path = path.strip("/")
    path = path[:-4] if path.endswith(".git") else path
    segments = path.split("/")
    if kind is None or len(segments) < 2 or (kind != "gitlab" and len(segments) != 2) \
            or not all(_SEGMENT.match(s) and s not in (".", "..") for s in segments):
        return None
    return kind, f"https://{host}{f':{port}' if port else ''}/{path}"


def _quoted(path: str) -> str | None:
    """A relative path or ref for a URL, each segment encoded; None when it could leave its place."""
    segments = path.split("/")
    if not path or _CONTROL.search(path) or any(s in ("", ".", "..") for s in segments):
        return None
    return "/".join(quote(s, safe="") for s in segments)


def forge_link(url, ref, path: str = "", first: int = 0, last: int = 0) -> str | None:
    """Where `path` (the tree when empty) is on the forge at `ref`, lines first..last marked; None when unknown.

    `ref` is the scanned commit when it is a full SHA, else the row's tag or branch.
    """
    forge = forge_base(url)
    ref = ref.strip() if isinstance(ref, str) else ""
    at = _quoted(ref)
    rel = _quoted(path) if path else ""
    if forge is None or at is None or rel is None:
        return None
    kind, base = forge
    last = max(last, first)
    if kind == "gitea":
        # Gitea and Forgejo name the kind of ref; the bare /src/REF form finds a tag or branch itself.
        place = f"{base}/src/commit/{at}" if _COMMIT.match(ref) else f"{base}/src/{at}"
        lines = f"#L{first}" if first == last else f"#L{first}-L{last}"
    elif kind == "gitlab":
        place = f"{base}/-/{'blob' if rel else 'tree'}/{at}"
        lines = f"#L{first}" if first == last else f"#L{first}-{last}"
    elif kind == "bitbucket":
        place = f"{base}/src/{at}"
        lines = f"#lines-{first}" if first == last else f"#lines-{first}:{last}"
    else:
        place = f"{base}/{'blob' if rel else 'tree'}/{at}"
        lines = f"#L{first}" if first == last else f"#L{first}-L{last}"
    return place + (f"/{rel}" if rel else "") + (lines if rel and first > 0 else "")


def style_sheet() -> str:
    return HtmlFormatter(cssclass="highlight").get_style_defs(".highlight")
