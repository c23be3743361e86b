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
an unknown top-level key, past the limits below) stops the batch before any
work. A fault in one entry (unknown key, wrong type, duplicate, missing path)
fails that entry alone, with a message, and the others go on.

The manifest and every bucket-map file are held to quarrix-scan's limits for
a bucket map: 16 MiB of text, 512 levels of nesting and 200 000 values once
YAML aliases are expanded (mapping keys are not counted). They are checked on
the parser's events, before a value is built, so that neither a document of
aliases nor one nested 100 000 deep costs memory or the Python stack.
"""

from __future__ import annotations

import json
import os
import re
import stat
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional
from urllib.parse import unquote

import yaml

from .redact import host_is_valid, split_url, strip_user_info, url_source

GRANULARITIES = ("top", "repo", "subproject", "all")
_ENTRY_KEYS = {"url", "path", "ref", "namespace", "granularity", "bucket_map", "exclude", "depends"}
_DEFAULT_KEYS = _ENTRY_KEYS - {"url", "path", "ref", "depends"}
_TOP_KEYS = {"defaults", "repositories"}
_MAX_VALUES = 200_000
_MAX_DEPTH = 512
_MAX_BYTES = 16 << 20
_LOADER = getattr(yaml, "CSafeLoader", yaml.SafeLoader)   # libyaml composes in C: 512 levels fit any stack
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
    depends: list = field(default_factory=list)     # names or namespaces of other entries it needs
    error: Optional[str] = None     # why this entry cannot be scanned

    @property
    def label(self) -> str:
        return self.source + (f"@{self.ref}" if self.ref else "")


def load_manifest(file: str | os.PathLike) -> list[RepoSpec]:
    path = Path(file)
    try:
        # Not only a regular file: a pipe (quarrix-batch <(make-manifest)) is the operator's own choice.
        text = read_limited_text(path, regular_only=False)
    except (OSError, UnicodeDecodeError) as e:
        raise ManifestError(f"cannot read manifest {path}: {e}") from None
    except ValueError as e:
        raise ManifestError(f"manifest {path}: {e}") from None
    try:
        doc = parse_limited_yaml(text)
    except yaml.YAMLError as e:
        raise ManifestError(f"manifest {path} is not valid YAML or JSON: {_yaml_problem(e)}") from None
    except ValueError as e:
        raise ManifestError(f"manifest {path}: {e}") from None
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
        if spec.error is None:
            ident = (same_repository_key(spec), spec.ref)
            if ident in seen:
                what = "repository" if spec.url else "directory"
                spec.error = f"duplicate of entry {seen[ident] + 1} (the same {what} and ref, however spelled)"
            else:
                seen[ident] = index
        specs.append(spec)
    _check_namespaces(path, specs)
    return specs


def _check_namespaces(path: Path, specs: list) -> None:
    """Rows are keyed NAMESPACE/NAME: two entries of one namespace would overwrite each other's verdicts."""
    first: dict[str, RepoSpec] = {}
    for spec in specs:
        if spec.error is not None:
            continue
        other = first.setdefault(spec.namespace, spec)
        if other is not spec:
            raise ManifestError(f"manifest {path}: entries {other.index + 1} ({other.label}) and {spec.index + 1} "
                                f"({spec.label}) have the one namespace {spec.namespace!r}; give one of them "
                                "its own 'namespace'")


def _entry(index: int, entry: Any, defaults: dict, base: Path) -> RepoSpec:
    spec = RepoSpec(index=index, source=f"entry {index + 1}")
    if not isinstance(entry, dict):
        spec.error = "an entry must be a mapping with 'url' or 'path'"
        return spec
    url, local = entry.get("url"), entry.get("path")
    if isinstance(url, str) and url:
        spec.source = url_source(url)
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
        spec.depends = _checked_depends(entry.get("depends", []))
        if url is not None:
            spec.url = _checked_url(url)
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
    try:
        spec.namespace = options.get("namespace") or default_namespace(spec)
    except ValueError as e:
        spec.error = str(e)
        return spec
    if spec.granularity == "subproject" and spec.bucket_map is None:
        spec.error = "granularity 'subproject' needs a bucket_map"
    return spec


def _checked_depends(depends: Any) -> list:
    if isinstance(depends, str):
        depends = [depends]
    if not isinstance(depends, list) or not all(isinstance(d, str) and d for d in depends):
        raise ValueError("'depends' must be a name or a list of names of other entries")
    return list(dict.fromkeys(depends))


def _checked_url(url: Any) -> str:
    if not isinstance(url, str) or not url.strip():
        raise ValueError("'url' must be a non-empty string")
    if url != url.strip() or any(ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F for c in url):
        raise ValueError("'url' holds white space or control characters")
    lower = url.lower()
    scp_like = "://" not in url and _SCP_LIKE.match(url) is not None
    if not (lower.startswith(_URL_SCHEMES) or scp_like):
        raise ValueError("'url' must be an https, http, ssh, git or file URL (or user@host:path), "
                         f"not {strip_user_info(url)!r}")
    if not host_is_valid(url):
        # git would take the user info for the host, and show it in its messages.
        raise ValueError("'url' has no valid host: a '/', '?' or '#' in a user name or password must be "
                         "written %2F, %3F or %23")
    _, user, password = split_url(url)
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in user + (password or "")):
        # A line break would add lines of its own to what the credential helper tells git.
        raise ValueError("'url' has a control character in its user name or password")
    return url


def same_repository_key(spec: RepoSpec) -> str:
    """What two spellings of one repository share: scheme and host in lower case, no user info,
    no empty or "." path steps nor a trailing "/", a local path through its links."""
    if spec.path:
        return "path:" + os.path.realpath(spec.path)
    url = split_url(spec.url or "")[0]
    if "://" not in url:
        host, _, where = url.partition(":")
        return f"scp:{host.lower()}:{_tidy_path(where)}"
    scheme, _, rest = url.partition("://")
    authority, _, where = rest.partition("/")
    if scheme == "file":
        return "file:" + os.path.realpath(unquote("/" + where))
    return f"{scheme}://{authority.lower()}/{_tidy_path(where)}"


def url_match_key(url: str) -> str:
    """What a manifest's URL and one a repository declares share when they name one repository: no user info,
    scheme, port, case, `.git` suffix, empty or "." steps nor trailing "/"; `git@host:o/n` is `https://host/o/n`;
    a file:// URL is its directory through its links."""
    url = split_url(url)[0]
    if url.startswith("file://"):
        return "file:" + os.path.realpath(unquote(url[len("file://"):]).removesuffix("/"))
    if "://" in url:
        authority, _, where = url.partition("://")[2].partition("/")
        host = authority.rpartition("@")[2]
    else:
        host, _, where = url.rpartition("@")[2].partition(":")
    host = host.split(":")[0] if not host.startswith("[") else host.partition("]")[0] + "]"
    return f"{host.lower()}/{_tidy_path(where).lower().removesuffix('.git')}"


def _tidy_path(where: str) -> str:
    return "/".join(step for step in where.split("/") if step not in ("", "."))


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
        given = out["bucket_map"]
        out["bucket_map"] = _bucket_map(given, base)
        _check_size(out["bucket_map"], "'bucket_map'")
        _check_bucket_shape(out["bucket_map"], f"bucket_map {base / given}" if isinstance(given, str)
                            else "'bucket_map'")
    return out


def _check_bucket_shape(bucket_map: dict, what: str) -> None:
    """The core's check, so that an entry fails here, as quarrix-scan refuses such a file, not in its scan."""
    from quarrix_core.ip_scanner import _bucket_map_fault

    fault = _bucket_map_fault(bucket_map)
    if fault is not None:
        raise ValueError(f"{what}: {fault}")


def _bucket_map(value: Any, base: Path) -> dict:
    if isinstance(value, dict):
        return value
    if not isinstance(value, str) or not value:
        raise ValueError("'bucket_map' must be a mapping or the name of a YAML/JSON file")
    file = base / value
    try:
        text = read_limited_text(file, regular_only=True)
        # JSON has no aliases: its size is its text's, and _checked_options checks its depth.
        loaded = json.loads(text) if file.suffix == ".json" else parse_limited_yaml(text)
    except (OSError, UnicodeDecodeError, yaml.YAMLError) as e:
        raise ValueError(f"bucket_map {file}: {_yaml_problem(e)}") from None
    except RecursionError:
        raise ValueError(f"bucket_map {file} is nested too deeply") from None
    except ValueError as e:
        raise ValueError(f"bucket_map {file}: {e}") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"bucket_map {file} does not hold a mapping")
    return loaded


def read_limited_text(file: Path, regular_only: bool) -> str:
    """The UTF-8 text of `file`, at most _MAX_BYTES; a FIFO or device named by a manifest would never end."""
    fd = os.open(file, os.O_RDONLY | os.O_CLOEXEC | (os.O_NONBLOCK if regular_only else 0))
    if regular_only and not stat.S_ISREG(os.fstat(fd).st_mode):
        os.close(fd)
        raise ValueError("not a regular file")
    with os.fdopen(fd, "rb") as f:
        data = f.read(_MAX_BYTES + 1)
    if len(data) > _MAX_BYTES:
        raise ValueError(f"larger than {_MAX_BYTES >> 20} MiB")
    return data.decode("utf-8")


def _yaml_problem(e: Exception) -> str:
    """One line for a parser's complaint, without the excerpt of the document (which may hold a token)."""
    if isinstance(e, yaml.MarkedYAMLError):
        mark = e.problem_mark or e.context_mark
        where = f" (line {mark.line + 1}, column {mark.column + 1})" if mark else ""
        return "; ".join(filter(None, (e.context, e.problem))) + where
    return " ".join(strip_user_info(str(e)).split())


def parse_limited_yaml(text: str) -> Any:
    """The YAML or JSON document in `text`, once its parser events show it within the limits."""
    _check_events(text)
    try:
        return yaml.load(text, Loader=_LOADER)
    except (RecursionError, MemoryError):   # merge keys chained past what the counts foresee
        raise ValueError("nested too deeply or holds too many values to read") from None


def _check_events(text: str) -> None:
    """Depth and value count of the document with every alias expanded, from the event stream alone."""
    expanded: dict[str, tuple[int, int]] = {}    # anchor -> (values, levels below it)
    # One frame per open collection: [anchor, values, levels below, is a mapping, children seen].
    stack: list[list] = [[None, 0, 0, False, 0]]
    total = 0

    def place(values: int, below: int, counted: bool) -> None:
        """A node of `values` values reaching `below` levels below itself ends in the open collection."""
        nonlocal total
        parent = stack[-1]
        is_key = parent[3] and parent[4] % 2 == 0
        parent[4] += 1
        if is_key and values == 1 and below == 0:
            return                                  # a plain key is no value
        if len(stack) - 1 + below > _MAX_DEPTH:
            raise ValueError(f"nested more than {_MAX_DEPTH} levels deep")
        parent[1] += values
        parent[2] = max(parent[2], below + 1)
        if not counted:
            total += values
            if total > _MAX_VALUES:
                raise ValueError(f"holds too many values once its aliases are expanded (more than {_MAX_VALUES})")

    for event in yaml.parse(text, Loader=_LOADER):
        if isinstance(event, yaml.ScalarEvent):
            if event.anchor:
                expanded[event.anchor] = (1, 0)
            place(1, 0, counted=False)
        elif isinstance(event, yaml.AliasEvent):
            place(*expanded.get(event.anchor, (1, 0)), counted=False)
        elif isinstance(event, (yaml.SequenceStartEvent, yaml.MappingStartEvent)):
            if len(stack) - 1 > _MAX_DEPTH:
                raise ValueError(f"nested more than {_MAX_DEPTH} levels deep")
            total += 1
            stack.append([event.anchor, 1, 0, isinstance(event, yaml.MappingStartEvent), 0])
        elif isinstance(event, (yaml.SequenceEndEvent, yaml.MappingEndEvent)):
            anchor, values, below, _, _ = stack.pop()
            if anchor:
                expanded[anchor] = (values, below)
            place(values, below, counted=True)


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
    """A URL's owner and name, lower case, joined by "." (`https://host/Acme/FIFO.git` gives `acme.fifo`);
    a path's directory name, as quarrix-scan takes it.

    One path component, neither "." nor "..": the review page finds a
    namespace's checkout at ROOT/NAMESPACE, and verdict keys are
    NAMESPACE/NAME. A "." cannot stand in a GitHub owner, so two owners
    never give one namespace there.
    """
    if not spec.url:
        return checkout_name(spec.path or "")
    where = spec.source.partition("://")[2].partition("/")[2] if "://" in spec.source else \
        spec.source.partition(":")[2]
    steps = [s.lower() for s in where.split("/") if s not in ("", ".")][-2:]
    if steps:
        steps[-1] = steps[-1].removesuffix(".git")
    if not steps or any(s in ("", "..") for s in steps):
        raise ValueError("cannot take a namespace from the URL's owner and name; give 'namespace'")
    return ".".join(steps)


def checkout_name(source: str) -> str:
    """The last component of a URL or path, without '.git'; 'repo' when it is unusable."""
    name = source.rstrip("/").replace(":", "/").rsplit("/", 1)[-1]
    if name.endswith(".git"):
        name = name[:-4]
    if name in ("", ".", "..") or "\0" in name:
        return "repo"
    return name
