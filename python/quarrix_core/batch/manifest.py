"""The manifest: which repositories a batch scans, and with which options.

A YAML or JSON document (JSON is YAML, one parser reads both)::

    defaults:                 # optional; any per-repository key but url/path/ref
      granularity: top
      exclude: ["*_tb"]
    repositories:
      - url: https://git.example/acme/fifo.git
        ref: v1.2             # branch, tag or full commit SHA; default: the remote's HEAD
      - path: /srv/checkouts/soc   # a local checkout, scanned in place
        namespace: soc
        granularity: subproject
        bucket_map: soc.buckets.yml   # a file (relative to the manifest) or a mapping

A fault in the document as a whole (not YAML/JSON, no list of repositories,
an unknown top-level key) stops the batch before any work. A fault in one
entry (unknown key, wrong type, duplicate, missing path) fails that entry
alone, with a message, and the others go on.
"""

from __future__ import annotations

import json
import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional

import yaml

from .redact import strip_user_info

GRANULARITIES = ("top", "repo", "subproject", "all")
_ENTRY_KEYS = {"url", "path", "ref", "namespace", "granularity", "bucket_map", "exclude"}
_DEFAULT_KEYS = _ENTRY_KEYS - {"url", "path", "ref"}
_TOP_KEYS = {"defaults", "repositories"}
_MAX_VALUES = 200_000
_MAX_DEPTH = 512
# user@host:path as ssh knows it; "transport::address" would run a git remote helper.
_SCP_LIKE = re.compile(r"^(?:[A-Za-z0-9._~+-]+@)?[A-Za-z0-9][A-Za-z0-9._-]*:(?!:)")
_URL_SCHEMES = ("https://", "http://", "ssh://", "git://", "file://")


class ManifestError(Exception):
    """The manifest as a whole cannot be used."""


@dataclass
class RepoSpec:
    """One entry of the manifest, with the defaults applied."""

    index: int                      # position in the manifest, from 0
    source: str                     # the URL without user info, or the absolute path
    url: Optional[str] = None       # as written (may hold credentials: never print it)
    path: Optional[str] = None
    ref: str = ""
    namespace: str = ""
    granularity: str = "top"
    bucket_map: Optional[dict] = None
    exclude: list = field(default_factory=list)
    error: Optional[str] = None     # why this entry cannot be scanned

    @property
    def label(self) -> str:
        return self.source + (f"@{self.ref}" if self.ref else "")


def load_manifest(file: str | os.PathLike) -> list[RepoSpec]:
    path = Path(file)
    try:
        text = path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as e:
        raise ManifestError(f"cannot read manifest {path}: {e}") from None
    try:
        doc = yaml.safe_load(text)
    except yaml.YAMLError as e:
        raise ManifestError(f"manifest {path} is not valid YAML or JSON: {strip_user_info(str(e))}") from None
    if isinstance(doc, list):
        doc = {"repositories": doc}
    if not isinstance(doc, dict):
        raise ManifestError(f"manifest {path}: expected a mapping with 'repositories', or a list of repositories")
    unknown = sorted(str(k) for k in doc if k not in _TOP_KEYS)
    if unknown:
        raise ManifestError(f"manifest {path}: unknown key(s) {', '.join(unknown)} (allowed: defaults, repositories)")
    repos = doc.get("repositories")
    if not isinstance(repos, list):
        raise ManifestError(f"manifest {path}: 'repositories' must be a list")
    defaults = doc.get("defaults") or {}
    if not isinstance(defaults, dict):
        raise ManifestError(f"manifest {path}: 'defaults' must be a mapping")
    bad = sorted(str(k) for k in defaults if k not in _DEFAULT_KEYS)
    if bad:
        raise ManifestError(f"manifest {path}: unknown or per-repository key(s) in defaults: {', '.join(bad)}")
    base = path.resolve().parent
    try:
        defaults = _checked_options(defaults, base)
    except ValueError as e:
        raise ManifestError(f"manifest {path}: defaults: {e}") from None

    specs: list[RepoSpec] = []
    seen: dict[tuple[str, str], int] = {}
    for index, entry in enumerate(repos):
        spec = _entry(index, entry, defaults, base)
        ident = (spec.source, spec.ref)
        if spec.error is None:
            if ident in seen:
                spec.error = f"duplicate of entry {seen[ident] + 1} (same {'url' if spec.url else 'path'} and ref)"
            else:
                seen[ident] = index
        specs.append(spec)
    return specs


def _entry(index: int, entry: Any, defaults: dict, base: Path) -> RepoSpec:
    spec = RepoSpec(index=index, source=f"entry {index + 1}")
    if not isinstance(entry, dict):
        spec.error = "an entry must be a mapping with 'url' or 'path'"
        return spec
    url, local = entry.get("url"), entry.get("path")
    if isinstance(url, str) and url:
        spec.source = strip_user_info(url)
    elif isinstance(local, str) and local:
        spec.source = str((base / local).absolute())
    unknown = sorted(str(k) for k in entry if k not in _ENTRY_KEYS)
    try:
        if unknown:
            raise ValueError(f"unknown key(s) {', '.join(unknown)}")
        if (url is None) == (local is None):
            raise ValueError("give exactly one of 'url' and 'path'")
        ref = entry.get("ref", "")
        if not isinstance(ref, str):
            raise ValueError(f"'ref' must be a string (quote it: ref: \"{ref}\")")
        if ref.startswith("-") or any(c.isspace() or c == "\0" for c in ref):
            raise ValueError("'ref' must be a branch, tag or commit name")
        spec.ref = ref
        if url is not None:
            spec.url = _checked_url(url)
            spec.source = strip_user_info(url)
        else:
            if not isinstance(local, str) or not local:
                raise ValueError("'path' must be a non-empty string")
            if spec.ref:
                raise ValueError("'ref' is for URLs; a path is scanned as it is checked out")
            spec.path = spec.source
            if not os.path.isdir(spec.path):
                raise ValueError(f"path {spec.path} does not exist or is not a directory")
        options = {**defaults, **_checked_options({k: v for k, v in entry.items() if k in _DEFAULT_KEYS}, base)}
    except ValueError as e:
        spec.error = str(e)
        return spec
    spec.granularity = options.get("granularity", "top")
    spec.bucket_map = options.get("bucket_map")
    spec.exclude = list(options.get("exclude", []))
    spec.namespace = options.get("namespace") or default_namespace(spec)
    if spec.granularity == "subproject" and spec.bucket_map is None:
        spec.error = "granularity 'subproject' needs a bucket_map"
    return spec


def _checked_url(url: Any) -> str:
    if not isinstance(url, str) or not url.strip():
        raise ValueError("'url' must be a non-empty string")
    if url != url.strip() or any(c in url for c in "\0\n\r"):
        raise ValueError("'url' holds white space or control characters")
    lower = url.lower()
    scp_like = "://" not in url and _SCP_LIKE.match(url) is not None
    if not (lower.startswith(_URL_SCHEMES) or scp_like):
        raise ValueError("'url' must be an https, http, ssh, git or file URL (or user@host:path), "
                         f"not {strip_user_info(url)!r}")
    return url


def _checked_options(options: dict, base: Path) -> dict:
    out = dict(options)
    if "namespace" in out and (not isinstance(out["namespace"], str) or not out["namespace"]):
        raise ValueError("'namespace' must be a non-empty string")
    if "granularity" in out and out["granularity"] not in GRANULARITIES:
        raise ValueError(f"'granularity' must be one of {', '.join(GRANULARITIES)}")
    if "exclude" in out:
        exclude = out["exclude"]
        if isinstance(exclude, str):
            exclude = [exclude]
        if not isinstance(exclude, list) or not all(isinstance(p, str) for p in exclude):
            raise ValueError("'exclude' must be a pattern or a list of patterns")
        out["exclude"] = exclude
    if "bucket_map" in out:
        out["bucket_map"] = _bucket_map(out["bucket_map"], base)
        _check_size(out["bucket_map"], "'bucket_map'")
    return out


def _bucket_map(value: Any, base: Path) -> dict:
    if isinstance(value, dict):
        return value
    if not isinstance(value, str) or not value:
        raise ValueError("'bucket_map' must be a mapping or the name of a YAML/JSON file")
    file = base / value
    try:
        text = file.read_text(encoding="utf-8")
        loaded = json.loads(text) if file.suffix == ".json" else yaml.safe_load(text)
    except (OSError, UnicodeDecodeError, ValueError, yaml.YAMLError) as e:
        raise ValueError(f"bucket_map {file}: {e}") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"bucket_map {file} does not hold a mapping")
    return loaded


def _check_size(value: Any, what: str) -> None:
    """YAML aliases can make a small file name billions of values: refuse past the scanner's own limits."""
    budget = _MAX_VALUES
    stack = [(value, 0)]
    while stack:
        item, depth = stack.pop()
        budget -= 1
        if budget < 0 or depth > _MAX_DEPTH:
            raise ValueError(f"{what} is nested too deeply or holds too many values")
        if isinstance(item, dict):
            stack.extend((v, depth + 1) for v in item.values())
        elif isinstance(item, list):
            stack.extend((v, depth + 1) for v in item)


def default_namespace(spec: RepoSpec) -> str:
    """What quarrix-scan takes by default: the name of the checkout's directory."""
    return checkout_name(spec.source if spec.url else spec.path or "")


def checkout_name(source: str) -> str:
    """The last component of a URL or path, without '.git'; 'repo' when it is unusable."""
    name = source.rstrip("/").replace(":", "/").rsplit("/", 1)[-1]
    if name.endswith(".git"):
        name = name[:-4]
    if name in ("", ".", "..") or "\0" in name:
        return "repo"
    return name
