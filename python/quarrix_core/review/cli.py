"""quarrix-review: serve the review page for rows written by quarrix-scan."""

from __future__ import annotations

import argparse
import gc
import ipaddress
import os
import socket
import sys

from .batch_rows import load_batch
from .registry import GRAPH_FILE
from .rows import RowSet, RowsFileError

PROG = "quarrix-review"
DEFAULT_PORT = 8765


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def allowed_hosts(host: str) -> list:
    """Host headers the server answers: loopback names, and the --host address when it is a specific one.

    A page on another site that resolves its own name to this address (DNS
    rebinding) then gets no answer, since its Host header names that site.
    """
    names = ["127.0.0.1", "localhost", "::1"]
    if host in ("0.0.0.0", "::", ""):
        return ["*"]
    if host not in names:
        names.append(host.strip("[]"))
    return names


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Serve a local web page for reviewing catalog rows and recording description verdicts "
                    "(good with a locked text, improvable, not good) in INDEX/descriptions_verdicts.json, "
                    "which quarrix-scan --verdicts INDEX then honours.",
        epilog="Rows are what quarrix-scan writes, as a JSON array or one row per line, or, with --batch, the rows "
               "of a quarrix-batch work directory, shown at the commits it scanned. The page binds to "
               "127.0.0.1 by default; anyone who can reach it can change the verdicts.")
    parser.add_argument("rows", nargs="*", metavar="ROWS", help="rows files (JSON array or JSONL)")
    parser.add_argument("--batch", metavar="WORK_DIR",
                        help="serve the rows of the batch that used this work directory, with the sources of its "
                             "checkouts at the scanned commits (instead of ROWS and --repo-root)")
    parser.add_argument("--store", metavar="FILE",
                        help="the batch's result store, when quarrix-batch was given --store (default: "
                             "WORK_DIR/results.sqlite)")
    parser.add_argument("--index", required=True, metavar="DIR",
                        help="index directory that holds (or is to hold) descriptions_verdicts.json")
    parser.add_argument("--repo-root", metavar="DIR",
                        help="where the scanned checkouts live (DIR/NAMESPACE or DIR itself); sources are read "
                             "only from inside it. Without it the row page shows no source")
    parser.add_argument("--curator", metavar="NAME",
                        help="who is judging, stored with each verdict (default: the login name)")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1); any other than loopback exposes the page")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT, help=f"port (default {DEFAULT_PORT}; 0: any free one)")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error(f"--port {args.port}: not a port number")
    if os.path.exists(args.index) and not os.path.isdir(args.index):
        parser.error(f"--index {args.index}: not a directory")
    if args.repo_root is not None and not os.path.isdir(args.repo_root):
        parser.error(f"--repo-root {args.repo_root}: not a directory")
    if args.batch is None:
        if not args.rows:
            parser.error("give ROWS files, or --batch WORK_DIR")
        if args.store is not None:
            parser.error("--store goes with --batch")
    elif args.rows or args.repo_root is not None:
        parser.error("--batch serves the batch's own rows and checkouts: give neither ROWS nor --repo-root with it")
    elif not os.path.isdir(args.batch):
        parser.error(f"--batch {args.batch}: not a directory")
    return args


def main(argv=None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    checkouts = None
    try:
        if args.batch is not None:
            rows, checkouts = load_batch(args.store or os.path.join(args.batch, "results.sqlite"))
        else:
            rows = RowSet.load(args.rows)
    except RowsFileError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 2

    import uvicorn

    from .app import BatchSources, create_app

    batch = BatchSources(checkouts, os.path.join(args.batch, GRAPH_FILE)) if args.batch is not None else None
    app = create_app(rows, args.index, args.repo_root, allowed_hosts=allowed_hosts(args.host),
                     curator=args.curator, batch=batch)
    # The rows and their indexes live as long as the server: keep the cyclic
    # collector from walking them again and again (pauses of 100 ms and more).
    gc.freeze()
    if not is_loopback(args.host):
        print(f"{PROG}: warning: listening on {args.host}, not loopback: anyone who can reach this address "
              "can read the rows and change the verdicts", file=sys.stderr)
    try:
        # Bound here rather than by uvicorn so that the address, with the port
        # actually given when --port is 0, can be printed before serving.
        family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
        sock = socket.create_server((args.host.strip("[]"), args.port), family=family)
    except OSError as exc:
        print(f"{PROG}: cannot listen on {args.host} port {args.port}: {exc.strerror}", file=sys.stderr)
        return 1
    state = app.state.review.verdicts.state()
    port = sock.getsockname()[1]
    shown = f"[{args.host.strip('[]')}]" if ":" in args.host else args.host
    print(f"{PROG}: {len(rows)} rows; verdicts in {app.state.review.verdicts.path} ({state.form}); "
          f"serving on http://{shown}:{port}/ (Ctrl-C to stop)", file=sys.stderr, flush=True)
    uvicorn.Server(uvicorn.Config(app, log_level="warning", access_log=False)).run(sockets=[sock])
    return 0
