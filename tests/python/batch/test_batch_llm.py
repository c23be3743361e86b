"""The language-model pace holds across the whole cluster, and the batch sums the workers' statistics."""

import json
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from quarrix_core.batch import BatchOptions, ScanSettings, load_manifest, run_batch
from quarrix_core.batch.summary import summary_text

from batch_repos import make_repo

PACE = 0.3


class FakeProviders:
    """Loopback providers: Groq refuses its key, Anthropic answers; each request's time is recorded."""

    def __init__(self):
        self.calls = []
        owner = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                begin = time.monotonic()
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                time.sleep(0.05)
                refused = self.path.startswith("/openai/")
                answer = {"content": [{"type": "text", "text": "Mixes nibbles."}]}
                body = b"" if refused else json.dumps(answer).encode()
                owner.calls.append((begin, time.monotonic(), "groq" if refused else "anthropic"))
                self.send_response(403 if refused else 200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.base = f"http://127.0.0.1:{self.httpd.server_address[1]}"
        threading.Thread(target=self.httpd.serve_forever, args=(0.05,), daemon=True).start()


def test_pace_and_dead_providers_hold_across_two_workers(tmp_path, monkeypatch):
    server = FakeProviders()
    for name in ("GEMINI_API_KEY", "http_proxy"):
        monkeypatch.delenv(name, raising=False)
    # Read by the worker processes, which inherit this environment when the batch starts them.
    monkeypatch.setenv("QUARRIX_GROQ_BASE_URL", server.base)
    monkeypatch.setenv("QUARRIX_ANTHROPIC_BASE_URL", server.base)
    monkeypatch.setenv("GROQ_API_KEY", "gsk-test")
    monkeypatch.setenv("ANTHROPIC_API_KEY", "sk-test")
    units = "".join(f"module zork_{i} (input clk, input [3:0] a, output b);\nendmodule\n" for i in range(3))
    repos = [make_repo(tmp_path / "origins", f"mixer{n}", {"rtl/zork.v": units}) for n in range(4)]
    (tmp_path / "m.json").write_text(json.dumps({"defaults": {"granularity": "all"},
                                                 "repositories": [{"url": r.as_uri()} for r in repos]}))
    settings = ScanSettings(verify=False, use_llm=True, llm_pace=str(PACE), llm_providers="groq,anthropic")
    options = BatchOptions(work=str(tmp_path / "work"), store=str(tmp_path / "store.sqlite"), workers=2,
                           progress=False)
    try:
        result = run_batch(load_manifest(tmp_path / "m.json"), settings, options)
    finally:
        server.httpd.shutdown()

    assert [o.status for o in result.outcomes] == ["scanned"] * 4
    assert len({o.worker for o in result.outcomes}) == 2, "both workers scanned"
    calls = sorted(server.calls)
    # Groq refused its key once; no scan of the batch, on either worker, asked it again.
    assert [c[2] for c in calls] == ["groq"] + ["anthropic"] * 12
    # Whichever worker asks, a call starts no sooner than PACE after the one before it ended.
    gaps = [nxt[0] - prev[1] for prev, nxt in zip(calls, calls[1:])]
    assert min(gaps) >= PACE - 0.02, gaps
    assert result.llm_stats["anthropic"] == {"ok": 12, "429": 0, "403": 0, "5xx": 0, "timeout": 0, "other": 0}
    assert summary_text(result, True).endswith(
        "LLM provider stats:\n  groq: 1 calls (403=1) DEAD\n  anthropic: 12 calls (ok=12)")
