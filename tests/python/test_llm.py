"""Language-model client through the Python module, against a loopback server."""

import json
import shutil
import ssl
import subprocess
import threading
from http.server import BaseHTTPRequestHandler, HTTPServer

import pytest

from quarrix_core import ip_scanner as ips

PROVIDER_ENV = ("QUARRIX_GROQ_BASE_URL", "QUARRIX_GEMINI_BASE_URL", "QUARRIX_ANTHROPIC_BASE_URL")
KEY_ENV = ("GROQ_API_KEY", "GEMINI_API_KEY", "ANTHROPIC_API_KEY")


class ScriptedServer:
    """HTTP server on 127.0.0.1 answering POSTs from a per-path script."""

    def __init__(self):
        self.script = {}  # path -> list of (status, body bytes); the last one repeats
        self.requests = []
        owner = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                owner.requests.append((self.path, list(self.headers.items()), body))
                queue = owner.script.get(self.path, [(404, b"")])
                status, payload = queue.pop(0) if len(queue) > 1 else queue[0]
                self.send_response(status)
                self.send_header("Content-Length", str(len(payload)))
                self.end_headers()
                self.wfile.write(payload)

            def log_message(self, *args):
                pass

        self.httpd = HTTPServer(("127.0.0.1", 0), Handler)
        self.base = "http://127.0.0.1:%d" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, args=(0.05,), daemon=True)
        self.thread.start()

    def use_tls(self, cert, key):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.base = self.base.replace("http://", "https://")

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


@pytest.fixture
def server():
    s = ScriptedServer()
    yield s
    s.close()


@pytest.fixture
def sleeps(monkeypatch):
    taken = []
    monkeypatch.setattr(ips, "_llm_sleep", taken.append)
    return taken


@pytest.fixture
def env(monkeypatch, server):
    for name in KEY_ENV + ("QUARRIX_LLM_PROVIDERS", "QUARRIX_LLM_PACE", "http_proxy", "https_proxy"):
        monkeypatch.delenv(name, raising=False)
    for name in PROVIDER_ENV:
        monkeypatch.setenv(name, server.base)
    ips.reset_llm_session()
    yield monkeypatch
    ips.reset_llm_session()


def chat_answer(text):
    return json.dumps({"choices": [{"message": {"content": text}}]}).encode()


def test_constants():
    assert ips._DEFAULT_PROVIDER_CHAIN == ["groq", "gemini", "anthropic"]
    assert ips._PROVIDER_FNS == {
        "groq": ("GROQ_API_KEY", "_llm_describe_groq"),
        "gemini": ("GEMINI_API_KEY", "_llm_describe_gemini"),
        "anthropic": ("ANTHROPIC_API_KEY", "_llm_describe_anthropic"),
    }
    assert ips._LLM_OUTCOMES == ["ok", "429", "403", "5xx", "timeout", "other"]


def test_http_layer_sleeps_through_the_module_hook(server, sleeps):
    server.script["/busy"] = [(503, b"")]
    assert ips._http_post_with_retry(server.base + "/busy", {}, bytearray(b"{}")) == (None, "5xx")
    assert sleeps == [2.0, 4.0]
    with pytest.raises(TypeError):
        ips._http_post_with_retry(server.base, {}, "text body")
    with pytest.raises(TypeError):
        ips._http_post_with_retry(server.base, [("a", "b")], b"")


@pytest.mark.skipif(shutil.which("openssl") is None, reason="needs the openssl command")
def test_untrusted_certificate_is_refused(tmp_path, sleeps):
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
         "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", str(key), "-out", str(cert)],
        check=True, capture_output=True,
    )
    s = ScriptedServer()
    s.use_tls(cert, key)
    s.script["/"] = [(200, b"should not be read")]
    try:
        assert ips._http_post_with_retry(s.base + "/", {}, b"{}") == (None, "timeout")
    finally:
        s.close()
    assert s.requests == [] and sleeps == [2.0, 4.0]


def test_chain_end_to_end_with_native_adapters(env, server, sleeps):
    env.setenv("GROQ_API_KEY", "secret-groq")
    env.setenv("GEMINI_API_KEY", "secret-gemini")
    env.setenv("QUARRIX_LLM_PACE", "0.5")
    server.script["/openai/v1/chat/completions"] = [(403, b"")]
    server.script["/v1beta/openai/chat/completions"] = [(200, chat_answer("# Heading\n'SPI master.'"))]
    hints = {"protocols": ["SPI"], "interfaces": [], "role": "master", "has_generics": False}

    assert ips._llm_describe("spi_master", "module spi_master;", "verilog", hints=hints) == "SPI master."
    assert ips._llm_describe("spi_master", "module spi_master;", "verilog") == "SPI master."
    assert [r[0] for r in server.requests] == [
        "/openai/v1/chat/completions",
        "/v1beta/openai/chat/completions",
        "/v1beta/openai/chat/completions",
    ]
    assert sleeps == [0.5, 0.5, 0.5]
    assert ips.format_llm_summary() == (
        "LLM provider stats:\n  groq: 1 calls (403=1) DEAD\n  gemini: 2 calls (ok=2)"
    )

    path, headers, body = server.requests[1]
    prompt = ips._build_llm_prompt("spi_master", "module spi_master;", "verilog", hints=hints)
    assert body == json.dumps(
        {"model": "gemini-2.0-flash", "max_tokens": 80, "messages": [{"role": "user", "content": prompt}]}
    ).encode()
    sent = dict(headers)
    assert sent["Authorization"] == "Bearer secret-gemini"
    assert sent["Content-Type"] == "application/json"
    assert sent["User-Agent"] == "quarrix-scanner/1.0"


def test_replaced_adapter_redirects_the_chain(env, sleeps):
    env.setenv("ANTHROPIC_API_KEY", "k-a")
    env.setenv("QUARRIX_LLM_PROVIDERS", "anthropic")
    seen = []

    def fake(name, sig, lang, api_key, hints=None):
        seen.append((name, sig, lang, api_key, hints))
        return ("`Fake answer.`", "ok")

    env.setattr(ips, "_llm_describe_anthropic", fake)
    assert ips._llm_describe("n", "s", "vhdl", hints={"role": "r"}) == "Fake answer."
    assert seen == [("n", "s", "vhdl", "k-a", {"role": "r"})]
    assert ips.get_llm_stats()["anthropic"]["ok"] == 1


def test_adapter_errors_propagate_and_never_show_the_key(env, sleeps):
    env.setenv("GROQ_API_KEY", "top-secret-key")
    native = ips._llm_describe_groq

    class Boom(Exception):
        pass

    def raising(*args, **kwargs):
        raise Boom("adapter failed")

    env.setattr(ips, "_llm_describe_groq", raising)
    with pytest.raises(Boom):
        ips._llm_describe("n", "s", "verilog")

    for bad in ("just text", ("a",), (1, "ok"), ("a", 2)):
        env.setattr(ips, "_llm_describe_groq", lambda *a, bad=bad, **k: bad)
        with pytest.raises(TypeError) as info:
            ips._llm_describe("n", "s", "verilog")
        assert "top-secret-key" not in str(info.value)

    with pytest.raises(TypeError) as info:
        native("n", "s", 3, "top-secret-key")
    assert "top-secret-key" not in str(info.value)


def test_no_keys_means_no_calls(env, server, sleeps):
    env.setenv("QUARRIX_LLM_PACE", "1")
    assert ips._llm_describe("n", "s", "verilog") is None
    assert server.requests == [] and sleeps == [] and ips.get_llm_stats() == {}


def test_prompt_and_cleaning():
    assert ips._build_llm_prompt("m", "sig", "vhdl", hints={}).endswith("\n```\n\nDescription:")
    assert ips._clean_llm_response(None) is None
    assert ips._clean_llm_response("# T\n\"A FIFO.\"") == "A FIFO."
    with pytest.raises(TypeError):
        ips._build_llm_prompt("m", "sig", "vhdl", hints=["role"])


def test_session_views_and_summary(env):
    ips._bump_stat("groq", "ok")
    ips._DEAD_PROVIDERS.add("groq")
    assert "groq" in ips._DEAD_PROVIDERS and len(ips._DEAD_PROVIDERS) == 1
    assert ips._DEAD_PROVIDERS == {"groq"}
    assert ips._PROVIDER_STATS["groq"]["ok"] == 1
    assert "gemini" not in ips._PROVIDER_STATS and list(ips._PROVIDER_STATS) == ["groq"]
    assert ips.format_llm_summary(ips._PROVIDER_STATS) == "LLM provider stats:\n  groq: 1 calls (ok=1) DEAD"

    copy = ips.get_llm_stats()
    copy["groq"]["ok"] = 50
    ips._PROVIDER_STATS["groq"]["ok"] = 60
    assert ips.get_llm_stats()["groq"]["ok"] == 1
    assert ips.format_llm_summary({"groq": {"ok": 0}, "x": {}}) == "LLM provider stats:\n  groq: 0 calls (n/a) DEAD"
    with pytest.raises(TypeError):
        ips.format_llm_summary({"groq": {"ok": "1"}})
    with pytest.raises(TypeError):
        ips.format_llm_summary([])

    ips._DEAD_PROVIDERS.discard("groq")
    assert ips.format_llm_summary() == "LLM provider stats:\n  groq: 1 calls (ok=1)"
    ips._PROVIDER_STATS.clear()
    assert ips.format_llm_summary() == "LLM: no provider calls recorded"


def test_scan_repo_uses_the_provider_chain(env, server, sleeps, tmp_path):
    (tmp_path / "zork_engine.v").write_text("module zork_engine (input clk, input [3:0] a, output b);\nendmodule\n")
    (tmp_path / "quiet_core.v").write_text("module quiet_core (input clk);\nendmodule\n")
    env.setenv("GROQ_API_KEY", "gsk-secret")
    env.setenv("ANTHROPIC_API_KEY", "sk-secret")
    server.script["/openai/v1/chat/completions"] = [(429, b""), (429, b""), (429, b"")]
    server.script["/v1/messages"] = [(200, json.dumps({"content": [{"type": "text", "text": "Nibble mixer."}]}).encode())]
    probes = ips.ScanProbes(lambda r: "work", lambda f, l: ("unknown", False), lambda f: [], lambda r: {},
                            lambda v, t: [], lambda f: False)
    rows = ips.scan_repo(tmp_path, "ns", "u", "t", "c", probes, use_llm=True, granularity="all")
    assert [(r["name"], r["description"], r["desc_source"]) for r in rows] == [
        ("quiet_core", "Nibble mixer.", "llm"), ("zork_engine", "Nibble mixer.", "llm")]
    stats = ips.get_llm_stats()
    assert stats["groq"]["429"] == 2 and stats["anthropic"]["ok"] == 2
    summary = ips.format_llm_summary()
    assert "anthropic" in summary and "secret" not in summary


def test_scan_takes_the_chain_the_pace_and_the_provider_call_as_options(env, sleeps, tmp_path):
    (tmp_path / "zork_engine.v").write_text("module zork_engine (input clk, input [3:0] a, output b);\nendmodule\n")
    env.setenv("GROQ_API_KEY", "gsk-secret")
    env.setenv("GEMINI_API_KEY", "gm-secret")
    env.setenv("QUARRIX_LLM_PACE", "9")           # the options win over the environment
    env.setenv("QUARRIX_LLM_PROVIDERS", "groq")
    calls = []

    def call(provider, name, sig, lang, api_key, hints):
        calls.append((provider, name, api_key, isinstance(hints, dict)))
        return (None, "429") if provider == "anthropic" else ("Nibble mixer.", "ok")

    probes = ips.ScanProbes(lambda r: "work", lambda f, l: ("unknown", False), lambda f: [], lambda r: {},
                            lambda v, t: [], lambda f: False)
    scan = ips.Scan(tmp_path, "ns", "u", "t", "c", probes, use_llm=True, granularity="all",
                    llm_providers=["gemini", "groq"], llm_pace=1.5, provider_call=call)
    assert [(r["description"], r["desc_source"]) for r in scan.run()] == [("Nibble mixer.", "llm")]
    assert calls == [("gemini", "zork_engine", "gm-secret", True)]
    assert sleeps == [1.5]
    assert ips.get_llm_stats()["gemini"].get("ok") == 1 and "groq" not in ips.get_llm_stats()
    for bad, error in (({"llm_providers": ["groq", "nope"]}, ValueError), ({"llm_providers": "groq"}, TypeError),
                       ({"llm_pace": -1}, ValueError), ({"llm_pace": "1"}, TypeError),
                       ({"provider_call": 3}, TypeError)):
        with pytest.raises(error):
            ips.Scan(tmp_path, "ns", "u", "t", "c", probes, **bad)
