"""Git for the batch: what a remote ref points at, shallow checkouts, and a checkout's identity.

Every git run has a time limit, never asks for a password, and has the
user info of URLs cut out of anything it reports.
"""

from __future__ import annotations

import os
import re
import signal
import subprocess
import time
from dataclasses import dataclass, field
from typing import Optional

from .redact import strip_user_info

_SHA = re.compile(r"^(?:[0-9a-f]{40}|[0-9a-f]{64})$")


class GitError(Exception):
    """A git run failed, timed out, or a ref could not be found; the message holds no credentials."""


class RefNotFound(GitError):
    """The remote answered, and has no such ref: asking again will not help."""


def _env() -> dict:
    env = dict(os.environ)
    env["GIT_TERMINAL_PROMPT"] = "0"         # no password prompt can hang a batch
    env.setdefault("GIT_SSH_COMMAND", "ssh -o BatchMode=yes")
    env["LC_ALL"] = "C"
    return env


def git(args: list[str], timeout: float, cwd: Optional[str] = None) -> str:
    """What `git args` prints; GitError when it fails or outlives `timeout` seconds."""
    argv = ["git", "-c", "advice.detachedHead=false", *args]
    try:
        proc = subprocess.Popen(argv, cwd=cwd, env=_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
    except OSError as e:
        raise GitError(f"cannot run git: {e}") from None
    try:
        out, err = proc.communicate(timeout=max(timeout, 0.001))
    except subprocess.TimeoutExpired:
        # git's helpers (ssh, git-remote-https) share its process group.
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise GitError(f"git {args[0]} timed out after {timeout:.0f} s") from None
    if proc.returncode != 0:
        lines = [ln.strip() for ln in err.decode("utf-8", "replace").splitlines() if ln.strip()]
        detail = next((ln for ln in lines if ln.startswith(("fatal:", "error:"))), lines[-1] if lines else "")
        raise GitError(strip_user_info(f"git {args[0]} failed: {detail or f'exit status {proc.returncode}'}"))
    return out.decode("utf-8", "replace")


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
    out = git(["ls-remote", "--symref", "--", url], timeout)
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
            raise RefNotFound(f"{strip_user_info(url)} has no default branch; give a ref")
        ref = head_branch
    if f"refs/heads/{ref}" in refs:
        commit = refs[f"refs/heads/{ref}"]
        return RemoteRef("branch", ref, commit, tags_at(commit))
    if ref in tag_commits:
        return RemoteRef("tag", ref, tag_commits[ref], tags_at(tag_commits[ref]))
    if _SHA.match(ref):
        return RemoteRef("commit", ref, ref, tags_at(ref))
    raise RefNotFound(f"ref {ref!r} is not a branch or tag of {strip_user_info(url)}, nor a full commit SHA")


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
    stripped = strip_user_info(url)
    remotes = git(["remote"], left(), cwd=dest).split()
    git(["remote", "set-url" if "origin" in remotes else "add", "origin", stripped], left(), cwd=dest)
    # Tags left by an earlier fetch could name this commit no more.
    old_tags = git(["for-each-ref", "--format=delete %(refname)", "refs/tags"], left(), cwd=dest)
    if old_tags:
        _git_stdin(["update-ref", "--stdin"], old_tags, left(), dest)
    refspecs = [f"+refs/tags/{t}:refs/tags/{t}" for t in remote.tags]
    if remote.kind == "branch":
        refspecs.insert(0, f"+refs/heads/{remote.name}:refs/remotes/origin/{remote.name}")
    elif remote.kind == "commit":
        refspecs.insert(0, remote.name)
    elif f"+refs/tags/{remote.name}:refs/tags/{remote.name}" not in refspecs:
        refspecs.insert(0, f"+refs/tags/{remote.name}:refs/tags/{remote.name}")
    # The URL with its credentials is given here only, never kept in the checkout.
    git(["fetch", "-q", "--depth", "1", "--no-tags", "--", url, *refspecs], left(), cwd=dest)
    if remote.kind == "branch":
        git(["checkout", "-q", "-f", "-B", remote.name, f"refs/remotes/origin/{remote.name}"], left(), cwd=dest)
    elif remote.kind == "tag":
        git(["checkout", "-q", "-f", "--detach", f"refs/tags/{remote.name}^{{commit}}"], left(), cwd=dest)
    else:
        git(["checkout", "-q", "-f", "--detach", "FETCH_HEAD"], left(), cwd=dest)
    git(["clean", "-q", "-f", "-f", "-d", "-x"], left(), cwd=dest)
    remote.commit = git(["rev-parse", "HEAD"], left(), cwd=dest).strip()
    return remote


def _git_stdin(args: list[str], data: str, timeout: float, cwd: str) -> None:
    try:
        proc = subprocess.run(["git", *args], cwd=cwd, env=_env(), input=data.encode(), capture_output=True,
                              timeout=max(timeout, 0.001))
    except subprocess.TimeoutExpired:
        raise GitError(f"git {args[0]} timed out") from None
    if proc.returncode != 0:
        raise GitError(f"git {args[0]} failed: {proc.stderr.decode('utf-8', 'replace').strip()}")


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
    return Identity(strip_user_info(url), tag, commit)


def is_dirty(repo: str, timeout: float = 60.0) -> bool:
    """Whether the work tree differs from HEAD (changed or untracked files): its commit no longer tells its content."""
    try:
        return bool(git(["-C", repo, "status", "--porcelain", "--untracked-files=normal"], timeout).strip())
    except GitError:
        return True
