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


def forge_base(url) -> str | None:
    """The repository's web address from its clone URL (https, or the scp-like git@host:path), else None."""
    if not isinstance(url, str) or not url.strip():
        return None
    url = url.strip()
    found = _SCP.match(url) if "://" not in url else None
    if found:
        url = f"https://{found.group(1)}/{found.group(2)}"
    elif url.startswith("ssh://") or url.startswith("git://"):
        parts = urlsplit(url)
        url = f"https://{parts.hostname}{parts.path}"
    parts = urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname or parts.username or parts.password:
        return None
    path = parts.path.rstrip("/")
    path = path[:-4] if path.endswith(".git") else path
    if not path.strip("/"):
        return None
    return f"https://{parts.hostname}{f':{parts.port}' if parts.port else ''}{path}"


def forge_link(url, ref, path: str, first: int = 0, last: int = 0) -> str | None:
    """The file's address on the forge at `ref` (the scanned tag or commit), lines marked; None without a ref."""
    base = forge_base(url)
    if base is None or not isinstance(ref, str) or not ref.strip() or not path:
        return None
    host = urlsplit(base).hostname or ""
    ref, rel = quote(ref.strip(), safe=""), quote(path.lstrip("/"))
    if host == "bitbucket.org":
        return f"{base}/src/{ref}/{rel}" + (f"#lines-{first}:{last}" if first else "")
    if host == "codeberg.org" or "gitea" in host:
        return f"{base}/src/commit/{ref}/{rel}" + (f"#L{first}-L{last}" if first else "")
    if "gitlab" in host:
        return f"{base}/-/blob/{ref}/{rel}" + (f"#L{first}-{last}" if first else "")
    return f"{base}/blob/{ref}/{rel}" + (f"#L{first}-L{last}" if first else "")


def style_sheet() -> str:
    return HtmlFormatter(cssclass="highlight").get_style_defs(".highlight")
