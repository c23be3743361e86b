"""Git for the batch: what a remote ref points at, shallow checkouts, and a checkout's identity.

Every git run has a time limit, never asks for a password, and has the
user info of URLs cut out of anything it reports. Credentials reach git
through a credential helper whose answer sits in git's environment, never on
a command line (which every user of the machine can read in /proc).

A repository's own configuration is not trusted: a manifest may name a
checkout, or a remote, set up to run commands. Every run disables hooks,
the file-system monitor, the filters and diff drivers the configuration
names, every transport but the five the manifest accepts, and system-wide
configuration.
"""

from __future__ import annotations

import os
import re
import shutil
import signal
import subprocess
import threading
import time
from dataclasses import dataclass, field
from typing import Optional

from .redact import scrub, secrets_of, split_url, url_source, without_user_info

_SHA = re.compile(r"^(?:[0-9a-f]{40}|[0-9a-f]{64})$")
# Options that outrank the repository's configuration (and, through
# GIT_CONFIG_PARAMETERS, reach every git that git starts, upload-pack included).
# core.sshCommand and core.gitProxy yield to GIT_SSH_COMMAND and GIT_PROXY_COMMAND, set in _env.
_SAFE_OPTIONS = ("-c", "core.fsmonitor=false", "-c", "core.hooksPath=/dev/null", "-c", "protocol.allow=never",
                 *(x for p in ("https", "http", "ssh", "git", "file") for x in ("-c", f"protocol.{p}.allow=always")),
                 "-c", "advice.detachedHead=false")
_ALLOWED_PROTOCOLS = "https:http:ssh:git:file"
# Where a repository's configuration can name a command; each one found is set to nothing.
_DRIVERS = re.compile(r"^(?:filter\..+\.(?:clean|smudge|process)|diff\..+\.(?:command|textconv))$")
# Commands that may run a filter driver: status (comparing a changed file) and checkout.
_RUNS_DRIVERS = {"status", "checkout"}
# Inherited, these would point git at another repository than the one asked.
_REPO_VARS = ("GIT_DIR", "GIT_WORK_TREE", "GIT_INDEX_FILE", "GIT_OBJECT_DIRECTORY", "GIT_COMMON_DIR",
              "GIT_ALTERNATE_OBJECT_DIRECTORIES", "GIT_NAMESPACE", "GIT_EXTERNAL_DIFF")
# The helper answers what git asks with the user name and password the batch put in its environment.
_HELPER = ('!f() { test "$1" = get || exit 0; printf "username=%s\\n" "$QUARRIX_GIT_USER"; '
           'printf "password=%s\\n" "$QUARRIX_GIT_PASSWORD"; }; f')

# git dies with the thread that started it (a worker that exits takes its git runs along), where
# util-linux's setpriv can ask the kernel for that; the clone it was writing is left to the next attempt.
_DIE_WITH_PARENT = ("setpriv", "--pdeathsig", "KILL", "--") if shutil.which("setpriv") else ()

_TELLING = 4                     # lines of a failed git's message that a status keeps

_live: set = set()               # git processes running now, for stop_all
_live_lock = threading.Lock()
_stopping = threading.Event()


class GitError(Exception):
    """A git run failed, timed out, or a ref could not be found; the message holds no credentials."""


class RefNotFound(GitError):
    """The remote answered, and has no such ref: asking again will not help."""


def _env(credentials: Optional[tuple[str, str]] = None, emptied: tuple = ()) -> dict:
    """git's environment; `emptied` names configuration keys set to nothing (in the environment, since a
    name may hold the "=" that would end it in a -c option)."""
    env = {k: v for k, v in os.environ.items() if k not in _REPO_VARS}
    env["GIT_TERMINAL_PROMPT"] = "0"         # no password prompt can hang a batch
    env.setdefault("GIT_SSH_COMMAND", "ssh -o BatchMode=yes")
    env["GIT_PROXY_COMMAND"] = ""            # set, even empty, it outranks every core.gitProxy
    env["GIT_CONFIG_NOSYSTEM"] = "1"
    env["GIT_ALLOW_PROTOCOL"] = _ALLOWED_PROTOCOLS
    env["GIT_OPTIONAL_LOCKS"] = "0"          # status writes no index (nor runs what a write would)
    env["LC_ALL"] = "C"
    entries = [(key, "") for key in emptied]
    if credentials is not None:
        # An empty helper first drops every helper configured before ours.
        entries += [("credential.helper", ""), ("credential.helper", _HELPER)]
        env.update(QUARRIX_GIT_USER=credentials[0], QUARRIX_GIT_PASSWORD=credentials[1])
    # After the operator's own entries, if any.
    count = int(env["GIT_CONFIG_COUNT"]) if env.get("GIT_CONFIG_COUNT", "").isdigit() else 0
    for n, (key, value) in enumerate(entries, count):
        env[f"GIT_CONFIG_KEY_{n}"], env[f"GIT_CONFIG_VALUE_{n}"] = key, value
    if entries:
        env["GIT_CONFIG_COUNT"] = str(count + len(entries))
    return env


def remote_for_git(url: str) -> tuple[str, Optional[tuple[str, str]]]:
    """(the URL git is given, the credentials its helper answers with, if any).

    http(s) URLs lose their user info to the helper; an ssh URL keeps its user
    name (ssh needs it; a password there is of no use to git) and a file or
    git URL needs none. The scheme is given in lower case, as git knows it.
    """
    bare, user, password = split_url(url)
    if "://" not in url:
        return url, None
    scheme = bare.partition("://")[0]
    if scheme in ("http", "https") and (user or password):
        return bare, (user, password or "")
    if scheme == "ssh" and user:
        raw_user = url.partition("://")[2].split("/", 1)[0].rpartition("@")[0].partition(":")[0]
        return bare.replace("://", f"://{raw_user}@", 1), None
    return bare, None


def stop_all() -> None:
    """Ends every git run of this process now and refuses new ones until resume(): the batch was interrupted."""
    _stopping.set()
    with _live_lock:
        for proc in _live:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


def resume() -> None:
    _stopping.clear()


def _drivers(cwd: str, timeout: float) -> tuple:
    """Every filter and diff driver command the configuration at cwd names (reading it runs nothing)."""
    try:
        out = subprocess.run(["git", "config", "--null", "--name-only", "--get-regexp", r"^(filter|diff)\."],
                             cwd=cwd, env=_env(), stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=max(timeout, 0.001)).stdout
    except (OSError, subprocess.TimeoutExpired) as e:
        raise GitError(f"git config failed: {e}") from None
    return tuple(name for name in out.decode("utf-8", "surrogateescape").split("\0") if _DRIVERS.match(name))


def git(args: list[str], timeout: float, cwd: Optional[str] = None, url: Optional[str] = None,
        stdin: Optional[bytes] = None) -> str:
    """What `git args` prints; GitError when it fails or outlives `timeout` seconds.

    `url` is the manifest's URL the run contacts (credentials and all): its
    credentials go to the helper and out of every message.
    """
    deadline = time.monotonic() + timeout
    if _stopping.is_set():
        raise GitError("interrupted")
    where, command = cwd, args[0]
    if args[0] == "-C":
        where, command = os.path.join(cwd or os.getcwd(), args[1]), args[2]
    credentials = remote_for_git(url)[1] if url else None
    drivers = _drivers(where, timeout) if where is not None and command in _RUNS_DRIVERS else ()
    try:
        # Outside any repository unless one is named: the directory we were started in may be one.
        proc = subprocess.Popen([*_DIE_WITH_PARENT, "git", *_SAFE_OPTIONS, *args],
                                cwd=cwd if where is not None else "/", env=_env(credentials, drivers),
                                stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    except OSError as e:
        raise GitError(f"cannot run git: {e}") from None
    with _live_lock:
        _live.add(proc)
        if _stopping.is_set():      # stop_all came between the start and now
            os.killpg(proc.pid, signal.SIGKILL)
    try:
        out, err = proc.communicate(stdin, timeout=max(deadline - time.monotonic(), 0.001))
    except subprocess.TimeoutExpired:
        # git's helpers (ssh, git-remote-https) share its process group.
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise GitError(f"git {command} timed out after {timeout:.0f} s") from None
    finally:
        with _live_lock:
            _live.discard(proc)
    if proc.returncode != 0:
        detail = telling_lines(err.decode("utf-8", "replace"))
        raise GitError(scrub(f"git {command} failed: {detail or f'exit status {proc.returncode}'}",
                             secrets_of(url)))
    return out.decode("utf-8", "replace")


def telling_lines(stderr: str) -> str:
    """What of git's complaint an operator needs, in git's order, each line once, at most _TELLING: its fatal
    lines (a remote's too) and its notes of corruption first, then its error lines; else its last line."""
    # A remote's last words may end in the NUL of its side band.
    lines = list(dict.fromkeys(filter(None, (ln.replace("\0", "").strip() for ln in stderr.splitlines()))))

    def rank(line: str) -> int:
        said = line.removeprefix("remote: ")
        return 0 if said.startswith("fatal:") or "corrupt" in line.lower() else 1 if said.startswith("error:") else 2

    ranked = sorted((i for i, ln in enumerate(lines) if rank(ln) < 2), key=lambda i: (rank(lines[i]), i))
    chosen = sorted(ranked[:_TELLING]) or [len(lines) - 1] if lines else []
    return "; ".join(lines[i] for i in chosen)


@dataclass
class RemoteRef:
    """What a manifest's ref names on the remote."""

    kind: str                 # "branch", "tag" or "commit"
    name: str                 # branch or tag name, or the SHA
    commit: str               # the commit the ref names (after a checkout: the one checked out)
    tags: list[str] = field(default_factory=list)   # every tag of the remote that points at commit

    def key_part(self) -> dict:
        return {"kind": self.kind, "name": self.name, "commit": self.commit, "tags": sorted(self.tags)}


def resolve_remote(url: str, ref: str, timeout: float) -> RemoteRef:
    """Looks `ref` up among the remote's branches and tags (empty: the remote's HEAD)."""
    out = git(["ls-remote", "--symref", "--", remote_for_git(url)[0]], timeout, url=url)
    refs: dict[str, str] = {}
    head_branch = ""
    for line in out.splitlines():
        if line.startswith("ref: ") and line.endswith("\tHEAD"):
            head_branch = line[5:-5].removeprefix("refs/heads/")
            continue
        sha, _, name = line.partition("\t")
        refs[name] = sha
    # The commit each tag names: an annotated tag's peeled entry wins.
    tag_commits: dict[str, str] = {}
    for name, sha in refs.items():
        if name.startswith("refs/tags/"):
            tag = name[len("refs/tags/"):]
            if tag.endswith("^{}"):
                tag_commits[tag[:-3]] = sha
            else:
                tag_commits.setdefault(tag, sha)

    def tags_at(commit: str) -> list[str]:
        return sorted(t for t, c in tag_commits.items() if c == commit)

    if not ref:
        if not head_branch or f"refs/heads/{head_branch}" not in refs:
            raise RefNotFound(f"{url_source(url)} has no default branch; give a ref")
        ref = head_branch
    if f"refs/heads/{ref}" in refs:
        commit = refs[f"refs/heads/{ref}"]
        return RemoteRef("branch", ref, commit, tags_at(commit))
    if ref in tag_commits:
        return RemoteRef("tag", ref, tag_commits[ref], tags_at(tag_commits[ref]))
    if _SHA.match(ref):
        return RemoteRef("commit", ref, ref, tags_at(ref))
    raise RefNotFound(f"ref {ref!r} is not a branch or tag of {url_source(url)}, nor a full commit SHA")


def shallow_checkout(url: str, ref: str, dest: str, timeout: float,
                     resolved: Optional[RemoteRef] = None) -> RemoteRef:
    """Brings `dest` to `ref` of `url` at depth 1, reusing an earlier checkout there.

    `resolved` is what `resolve_remote` said of `ref` a moment ago, which
    spares asking the remote again.

    The checkout looks like a clone of that ref to quarrix-scan: origin is the
    URL without user info, a branch is checked out under its name, a tag or
    commit detached, and every tag of the remote at that commit is present.
    """
    deadline = time.monotonic() + timeout

    def left() -> float:
        return deadline - time.monotonic()

    remote = resolved or resolve_remote(url, ref, left())
    if not os.path.isdir(os.path.join(dest, ".git")):
        os.makedirs(dest, exist_ok=True)
        git(["init", "-q", dest], left())
    stripped = url_source(url)
    remotes = git(["remote"], left(), cwd=dest).split()
    git(["remote", "set-url" if "origin" in remotes else "add", "origin", stripped], left(), cwd=dest)
    # Tags left by an earlier fetch could name this commit no more.
    old_tags = git(["for-each-ref", "--format=delete %(refname)", "refs/tags"], left(), cwd=dest)
    if old_tags:
        git(["update-ref", "--stdin"], left(), cwd=dest, stdin=old_tags.encode())
    refspecs = [f"+refs/tags/{t}:refs/tags/{t}" for t in remote.tags]
    if remote.kind == "branch":
        refspecs.insert(0, f"+refs/heads/{remote.name}:refs/remotes/origin/{remote.name}")
    elif remote.kind == "commit":
        refspecs.insert(0, remote.name)
    elif f"+refs/tags/{remote.name}:refs/tags/{remote.name}" not in refspecs:
        refspecs.insert(0, f"+refs/tags/{remote.name}:refs/tags/{remote.name}")
    # The credentials go to this run's helper only, never into the checkout.
    git(["fetch", "-q", "--depth", "1", "--no-tags", "--", remote_for_git(url)[0], *refspecs], left(), cwd=dest,
        url=url)
    if remote.kind == "branch":
        git(["checkout", "-q", "-f", "-B", remote.name, f"refs/remotes/origin/{remote.name}"], left(), cwd=dest)
    elif remote.kind == "tag":
        git(["checkout", "-q", "-f", "--detach", f"refs/tags/{remote.name}^{{commit}}"], left(), cwd=dest)
    else:
        git(["checkout", "-q", "-f", "--detach", "FETCH_HEAD"], left(), cwd=dest)
    git(["clean", "-q", "-f", "-f", "-d", "-x"], left(), cwd=dest)
    remote.commit = git(["rev-parse", "HEAD"], left(), cwd=dest).strip()
    return remote


@dataclass
class Identity:
    """URL, tag and commit as quarrix-scan works them out for a checkout."""

    url: str = ""
    tag: str = ""
    commit: str = ""


def _first_line(args: list[str], repo: str, timeout: float) -> str:
    try:
        out = git(["-C", repo, *args], timeout)
    except GitError:
        return ""
    lines = out.splitlines()
    return lines[0].strip() if lines else ""


def checkout_identity(repo: str, timeout: float = 60.0) -> Optional[Identity]:
    """The identity of `repo` when it is the top of a git work tree, else None.

    The same git questions as quarrix-scan asks: origin's URL (else the first
    remote's), a tag at HEAD (else the branch), HEAD's commit.
    """
    top = _first_line(["rev-parse", "--show-toplevel"], repo, timeout)
    try:
        if not top or not os.path.samefile(top, repo):
            return None
    except OSError:
        return None
    url = _first_line(["config", "--get", "remote.origin.url"], repo, timeout)
    if not url:
        remote = _first_line(["remote"], repo, timeout)
        if remote:
            url = _first_line(["config", "--get", f"remote.{remote}.url"], repo, timeout)
    tag = _first_line(["describe", "--tags", "--exact-match", "HEAD"], repo, timeout)
    if not tag:
        tag = _first_line(["symbolic-ref", "--short", "-q", "HEAD"], repo, timeout)
    commit = _first_line(["rev-parse", "HEAD"], repo, timeout)
    return Identity(without_user_info(url), tag, commit)


def is_dirty(repo: str, timeout: float = 60.0) -> bool:
    """Whether the work tree differs from HEAD (changed or untracked files): its commit no longer tells its content."""
    try:
        return bool(git(["-C", repo, "status", "--porcelain", "--untracked-files=normal",
                        # A submodule's own git would read a configuration whose drivers nobody set to nothing.
                        "--ignore-submodules=dirty"], timeout).strip())
    except GitError:
        return True
