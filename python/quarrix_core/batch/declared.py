"""The repositories a checkout says it depends on, from the package manifests real repositories carry.

Read: `Bender.yml`'s `dependencies:` entries with a `git:` URL (a `path:`
dependency names a directory of the author's machine, not a repository). The
file is a repository's own, so it is read as the manifest is: a regular file
inside the checkout, within the same size, depth and alias limits.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path

import yaml

from .manifest import parse_limited_yaml, read_limited_text

BENDER = "Bender.yml"


@dataclass(frozen=True)
class Declared:
    url: str
    name: str           # the name the file gives it
    file: str           # the file that declares it, relative to the checkout


def declared_dependencies(checkout: str) -> list[Declared]:
    """The git dependencies `checkout` declares, in the file's order; none when it declares none readably."""
    doc = _document(checkout, BENDER)
    deps = doc.get("dependencies") if isinstance(doc, dict) else None
    if not isinstance(deps, dict):
        return []
    out = []
    for name, dep in deps.items():
        url = dep.get("git") if isinstance(dep, dict) else None
        if isinstance(url, str) and url.strip():
            out.append(Declared(url.strip(), str(name), BENDER))
    return out


def _document(checkout: str, name: str):
    file = os.path.join(checkout, name)
    real, root = os.path.realpath(file), os.path.realpath(checkout)
    if os.path.commonpath([real, root]) != root:
        return None                    # a link out of the checkout: not the repository's to say
    try:
        return parse_limited_yaml(read_limited_text(Path(real), regular_only=True))
    except (OSError, UnicodeDecodeError, ValueError, yaml.YAMLError):
        return None
