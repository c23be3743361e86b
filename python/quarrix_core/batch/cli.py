"""quarrix-batch: scan the repositories of a manifest on a Dask cluster, incrementally."""

from __future__ import annotations

import argparse
import os
import signal
import sys
import threading

import quarrix_core

from .manifest import ManifestError, load_manifest
from .redact import scrub, secrets_of, terminal_safe
from .settings import ScanSettings
from .store import StoreError

EXIT_OK, EXIT_ERROR, EXIT_USAGE, EXIT_SOME_FAILED = 0, 1, 2, 3
_KEY_VARS = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")

_EPILOG = """\
exit status: 0 every repository scanned or unchanged; 3 some failed, were
interrupted or were left out for their dependencies (a cycle, a missing name;
the others' results are kept); 2 usage error or unusable
manifest; 1 the batch itself failed (store, output, cluster); 130, 143, 129
the batch was stopped by SIGINT, SIGTERM or SIGHUP (finished results are kept).

A repository whose key (URL or path, ref, commit, tags, package version and
the options that change rows) matches the store is not scanned again. Rows in
--output are what `quarrix-scan --format jsonl` prints for that repository
with the same options, repositories in manifest order.
"""


def _seconds(value: str) -> float:
    try:
        seconds = float(value)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid number of seconds '{value}'") from None
    if not 0 <= seconds < float("inf"):
        raise argparse.ArgumentTypeError(f"seconds must be 0 or more, not '{value}'")
    return seconds


def _positive_seconds(value: str) -> float:
    seconds = _seconds(value)
    if seconds == 0:
        raise argparse.ArgumentTypeError("the time-out must be more than 0")
    return seconds


def _memory(value: str) -> float:
    """A whole number of MiB, or with a suffix K, M, G or T (binary): read by the core, as quarrix-scan reads it."""
    from quarrix_core.ip_scanner import _parse_memory_size

    size, fault = _parse_memory_size(value)
    if fault == "too large":
        raise argparse.ArgumentTypeError(f"size '{value}' is too large")
    if fault:
        raise argparse.ArgumentTypeError(f"invalid size '{value}' (MiB, or a size such as 512M or 2G)")
    return float(size)


def _workers(value: str) -> int:
    if not value.isdigit() or not 1 <= int(value) <= 1024:
        raise argparse.ArgumentTypeError(f"invalid number of workers '{value}' (1 to 1024)")
    return int(value)


def _jobs(value: str) -> int:
    if not value.isdigit() or not 1 <= int(value) <= 256:
        raise argparse.ArgumentTypeError(f"invalid value '{value}' for --jobs (a whole number from 1 to 256)")
    return int(value)


class Interrupted(KeyboardInterrupt):
    """SIGINT, SIGTERM or SIGHUP reached the batch."""

    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


def _interrupt(signum, frame):
    # A second signal while the batch winds down changes nothing.
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_IGN)
    raise Interrupted(signum)


def _say(text: str) -> None:
    """One message on standard error; repository names and git's words may hold terminal controls."""
    print(terminal_safe(text), file=sys.stderr, flush=True)


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="quarrix-batch", description=__doc__, epilog=_EPILOG,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("manifest", help="YAML or JSON list of repositories (see the README)")
    p.add_argument("--work", default="quarrix-batch-work", metavar="DIR",
                   help="where URLs are cloned, kept for the next batch (default: ./quarrix-batch-work)")
    p.add_argument("--store", metavar="FILE", help="SQLite result store (default: WORK/results.sqlite)")
    p.add_argument("-o", "--output", metavar="FILE", help="write every row of every repository here, as JSONL")
    p.add_argument("--status", metavar="FILE", help="write one JSON line per repository: status, rows, cause")
    p.add_argument("--graph", metavar="FILE",
                   help="write the dependency graph of the repositories as JSON, and beside it an SVG picture (FILE with its suffix replaced by .svg; Graphviz)")
    p.add_argument("--workers", type=_workers, metavar="N",
                   help="worker processes of the local cluster (default: one per CPU)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="use this running Dask cluster (tcp://host:8786) instead of a local one")
    p.add_argument("--force", action="store_true", help="scan every repository, even unchanged ones")
    p.add_argument("--repo-timeout", type=_positive_seconds, default=1800.0, metavar="SECONDS",
                   help="time for one repository, clone and scan (default: 1800)")
    p.add_argument("--no-verify", dest="verify", action="store_false", help="run no HDL tool check")
    p.add_argument("--tool-budget", type=_seconds, default=600.0, metavar="SECONDS",
                   help="wall time for all tool runs of one repository (default: 600)")
    p.add_argument("--tool-memory", type=_memory, default=float(2 << 30), metavar="SIZE",
                   help="address space of each tool run, e.g. 512M or 4G (default: 2G)")
    p.add_argument("--cache-dir", metavar="DIR", help="tool result cache directory (shared disk for a cluster)")
    p.add_argument("--no-cache", dest="use_cache", action="store_false", help="keep no tool results")
    p.add_argument("--jobs", type=_jobs, default=1, metavar="N",
                   help="tool checks of one repository run at once (default: 1; the workers already run "
                        "repositories side by side); the rows do not depend on it")
    llm = p.add_mutually_exclusive_group()
    llm.add_argument("--llm", dest="use_llm", action="store_true", default=None,
                     help="allow language-model descriptions (default: when a provider key is set)")
    llm.add_argument("--no-llm", dest="use_llm", action="store_false", help="forbid language-model descriptions")
    p.add_argument("--verdicts", metavar="INDEX_DIR", help="directory holding descriptions_verdicts.json")
    p.add_argument("-q", "--quiet", action="store_true", help="no progress and no summary")
    p.add_argument("--version", action="version", version=f"quarrix-batch {quarrix_core.__version__}")
    return p


def _settings(args) -> ScanSettings:
    verdicts = None
    if args.verdicts:
        if not os.path.isdir(args.verdicts):
            raise ManifestError(f"--verdicts '{args.verdicts}' is not a directory")
        file = os.path.join(args.verdicts, "descriptions_verdicts.json")
        if os.path.lexists(file) and not os.path.isfile(file):
            # A FIFO or device there would block or never end the read.
            raise ManifestError(f"--verdicts: '{file}' is not a regular file")
        import quarrix_core.ip_scanner as scanner

        verdicts = scanner.load_description_verdicts(args.verdicts)
    use_llm = args.use_llm
    if use_llm is None:
        use_llm = any(os.environ.get(k, "").strip() for k in _KEY_VARS)
    return ScanSettings(verify=args.verify, tool_budget=args.tool_budget, tool_memory=args.tool_memory,
                        cache_dir=os.path.abspath(args.cache_dir) if args.cache_dir else None,
                        use_cache=args.use_cache, jobs=args.jobs, use_llm=use_llm, verdicts=verdicts,
                        llm_pace=os.environ.get("QUARRIX_LLM_PACE"),
                        llm_providers=os.environ.get("QUARRIX_LLM_PROVIDERS"))


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    handled = _catch_signals()     # from here on, a signal ends the batch in one line
    try:
        return _run(args)
    except KeyboardInterrupt as e:
        _say("quarrix-batch: interrupted; finished results are kept in the store")
        return 128 + (e.signum if isinstance(e, Interrupted) else signal.SIGINT)
    finally:
        _restore_signals(handled)


def _run(args) -> int:
    from .graph import write_graph
    from .runner import BatchBusy, BatchOptions, ClusterError, run_batch, write_outputs
    from .summary import summary_text

    try:
        specs = load_manifest(args.manifest)
        settings = _settings(args)
    except ManifestError as e:
        _say(f"quarrix-batch: {e}")
        return EXIT_USAGE
    if args.graph and os.path.splitext(args.graph)[1].lower() == ".svg":
        _say(f"quarrix-batch: --graph '{args.graph}': give the JSON file's name; the SVG goes beside it")
        return EXIT_USAGE
    for target in (args.output, args.status, args.graph):
        if target and not os.path.isdir(os.path.dirname(os.path.abspath(target))):
            _say(f"quarrix-batch: '{target}': no such directory")
            return EXIT_USAGE
    options = BatchOptions(work=args.work, store=args.store or os.path.join(args.work, "results.sqlite"),
                           workers=args.workers, scheduler=args.scheduler, force=args.force,
                           repo_timeout=args.repo_timeout, progress=not args.quiet)
    try:
        result = run_batch(specs, settings, options)
        write_outputs(result, options.store, args.output, args.status, settings)
        if args.graph:
            note = write_graph(result.graph, args.graph, os.path.splitext(args.graph)[0] + ".svg")
            if note:
                _say(f"quarrix-batch: {note}")
    except (BatchBusy, ClusterError, StoreError, OSError) as e:
        _say(f"quarrix-batch: {scrub(str(e), [s for spec in specs for s in secrets_of(spec.url)])}")
        return EXIT_ERROR
    if not args.quiet:
        _say(summary_text(result, settings.use_llm))
    return EXIT_SOME_FAILED if result.failures() else EXIT_OK


def _catch_signals() -> list:
    """Makes SIGINT, SIGTERM and SIGHUP end the batch through Interrupted (main thread only, as Python allows)."""
    if threading.current_thread() is not threading.main_thread():
        return []
    # A signal ignored when we were started (nohup, a background job) stays ignored.
    return [(s, signal.signal(s, _interrupt)) for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
            if signal.getsignal(s) is not signal.SIG_IGN]


def _restore_signals(handled: list) -> None:
    for s, handler in handled:
        signal.signal(s, handler)
