"""The repositories a checkout says it depends on, from the package manifests real repositories carry.

Read: `Bender.yml`'s `dependencies:` entries with a `git:` URL (a `path:`
dependency names a directory of the author's machine, not a repository), then
the submodules of `.gitmodules` (a URL relative to the superproject, `../x.git`,
is taken from the checkout's `origin`). A repository both files name is declared
once, by the first. The files are a repository's own, so they are read as the
manifest is: regular files inside the checkout, within the same size limit
(and for Bender.yml the same depth and alias limits); git parses .gitmodules
from its text, with no include followed.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

import yaml

from .gitrepo import GitError, git
from .manifest import parse_limited_yaml, read_limited_text, url_match_key

BENDER = "Bender.yml"
GITMODULES = ".gitmodules"
_GIT_SECONDS = 10.0


@dataclass(frozen=True)
class Declared:
    url: str
    name: str           # the name the file gives it
    file: str           # the file that declares it, relative to the checkout


def declared_dependencies(checkout: str, origin: Optional[str] = None) -> list[Declared]:
    """The git dependencies `checkout` declares, in the files' order; none when it declares none readably.
    A relative submodule URL is resolved against `origin`, by default the checkout's own `origin` remote."""
    out, seen = [], set()
    for found in (*_bender(checkout), *_submodules(checkout, origin)):
        if url_match_key(found.url) not in seen:
            seen.add(url_match_key(found.url))
            out.append(found)
    return out


def _bender(checkout: str) -> list[Declared]:
    text = _text(checkout, BENDER)
    try:
        doc = parse_limited_yaml(text) if text is not None else None
    except (ValueError, yaml.YAMLError):
        return []
    deps = doc.get("dependencies") if isinstance(doc, dict) else None
    if not isinstance(deps, dict):
        return []
    out = []
    for name, dep in deps.items():
        url = dep.get("git") if isinstance(dep, dict) else None
        if isinstance(url, str) and url.strip():
            out.append(Declared(url.strip(), str(name), BENDER))
    return out


def _submodules(checkout: str, origin: Optional[str]) -> list[Declared]:
    text = _text(checkout, GITMODULES)
    if text is None:
        return []
    try:
        listed = git(["config", "--file", "-", "--no-includes", "-z", "--get-regexp", r"^submodule\..*\.url$"],
                     _GIT_SECONDS, stdin=text.encode())
    except GitError:                    # no submodule URL (git exits 1), or no parsable file
        return []
    out = []
    for item in filter(None, listed.split("\0")):
        key, _, url = item.partition("\n")
        url = url.strip()
        if url.startswith(("./", "../")):
            if origin is None:
                origin = _origin(checkout)
            url = _relative_url(origin, url)
        if url:
            out.append(Declared(url, key.removeprefix("submodule.").removesuffix(".url"), GITMODULES))
    return out


def _origin(checkout: str) -> str:
    if not os.path.lexists(os.path.join(checkout, ".git")):
        return ""                       # git would take the origin of a repository around it
    try:
        return git(["config", "--get", "remote.origin.url"], _GIT_SECONDS, cwd=checkout).strip()
    except GitError:
        return ""


def _relative_url(base: str, relative: str) -> str:
    """`relative` (`../x.git`) as git resolves a submodule's URL against the superproject's; "" when it cannot."""
    if "://" in base:
        scheme, _, rest = base.partition("://")
        host, _, path = rest.partition("/")
        prefix, sep = f"{scheme}://{host}", "/"
    elif ":" in base.split("/")[0]:     # user@host:path
        prefix, _, path = base.partition(":")
        sep = ":"
    else:                               # a directory
        prefix, sep, path = "", "/" if base.startswith("/") else "", base
    steps = [step for step in path.split("/") if step not in ("", ".")]
    while relative.startswith(("./", "../")):
        if relative.startswith("../"):
            if not steps:
                return ""               # climbs out of the host
            steps.pop()
        relative = relative.partition("/")[2]
    return f"{prefix}{sep}{'/'.join([*steps, relative])}" if base else ""


def _text(checkout: str, name: str):
    file = os.path.join(checkout, name)
    real, root = os.path.realpath(file), os.path.realpath(checkout)
    if os.path.commonpath([real, root]) != root:
        return None                    # a link out of the checkout: not the repository's to say
    try:
        return read_limited_text(Path(real), regular_only=True)
    except (OSError, UnicodeDecodeError, ValueError):
        return None
