"""Description chain, verdict registry and the replaceable validator hook."""

import json
import pathlib

import pytest

from quarrix_core import description_validator, ip_scanner


@pytest.fixture
def recorder(monkeypatch):
    """Replaces ip_scanner._desc_is_suspect; rejects the texts in `reject` ("*": all)."""

    class Recorder:
        def __init__(self):
            self.calls = []
            self.reject = set()

        def __call__(self, text, *, name=None, namespace=None):
            self.calls.append((text, name, namespace))
            return "*" in self.reject or text in self.reject

    rec = Recorder()
    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", rec)
    return rec


def test_names():
    assert ip_scanner._desc_is_suspect is description_validator.is_suspect
    for name in ("load_description_verdicts", "verdict_locked_text", "generate_description", "_accept_desc"):
        assert callable(getattr(ip_scanner, name))


def test_validator_call_shapes():
    is_suspect = description_validator.is_suspect
    assert is_suspect("Copyright 2020 Acme") is True
    assert is_suspect("UART transmit engine with ready/valid handshake", namespace="acme") is False
    assert is_suspect("uart_tx", name="uart_tx", namespace="acme") is True
    assert is_suspect("SPI master", "spi_master", "acme") is False
    for args, kwargs in [((b"text",), {}), (("text",), {"name": 1}), (("text",), {"namespace": ["a"]}), ((), {})]:
        with pytest.raises(TypeError):
            is_suspect(*args, **kwargs)


@pytest.mark.parametrize(
    "content, expected",
    [
        ({"version": 1, "entries": {"acme/b": {"verdict": "good"}, "acme/a": {}}}, ["acme/b", "acme/a"]),
        ({"entries": [], "acme/x": {}}, ["entries", "acme/x"]),
        ([1, 2], []),
    ],
)
def test_load_description_verdicts(tmp_path, content, expected):
    (tmp_path / "descriptions_verdicts.json").write_text(json.dumps(content), encoding="utf-8")
    assert list(ip_scanner.load_description_verdicts(tmp_path)) == expected
    assert list(ip_scanner.load_description_verdicts(str(tmp_path))) == expected


def test_load_description_verdicts_absent_and_bad_types(tmp_path):
    assert ip_scanner.load_description_verdicts(None) == {}
    assert ip_scanner.load_description_verdicts(tmp_path / "missing") == {}
    (tmp_path / "descriptions_verdicts.json").write_bytes(b'{"acme/\xff": {}}')
    assert ip_scanner.load_description_verdicts(tmp_path) == {}
    for bad in (b"/tmp", 3, [str(tmp_path)]):
        with pytest.raises(TypeError):
            ip_scanner.load_description_verdicts(bad)


def test_verdict_locked_text():
    verdicts = {"acme/uart": {"verdict": "good", "locked_text": " UART "}, "acme/spi": {"verdict": "not-good"}}
    assert ip_scanner.verdict_locked_text(verdicts, "acme", "uart") == " UART "
    assert ip_scanner.verdict_locked_text(verdicts, "acme", "spi") is None
    assert ip_scanner.verdict_locked_text(None, "acme", "uart") is None
    assert ip_scanner.verdict_locked_text({}, "acme", "uart") is None
    for args in ([["acme/uart"], "acme", "uart"], [verdicts, 1, "uart"], [verdicts, "acme", None]):
        with pytest.raises(TypeError):
            ip_scanner.verdict_locked_text(*args)


def test_generate_description_defaults_and_tiers(tmp_path):
    missing = tmp_path / "none.v"
    gen = ip_scanner.generate_description
    assert gen("core", missing, "acme", "verilog", locked_description="Locked") == ("Locked", "verdict")
    assert gen("core", str(missing), "acme", "verilog", False) == ("acme IP: core", "auto")
    assert gen("core", missing, "acme", "verilog", use_llm=0, previous_description="Pipelined divider") == (
        "Pipelined divider",
        "preserved",
    )
    assert gen("core", missing, "acme", "verilog", None, "core", "") == ("acme IP: core", "auto")


@pytest.mark.parametrize(
    "args",
    [
        (1, "x.v", "acme", "verilog"),
        ("core", 1, "acme", "verilog"),
        ("core", "x.v", None, "verilog"),
        ("core", "x.v", "acme", b"verilog"),
        ("core", "x.v", "acme", "verilog", True, 3),
        ("core", "x.v", "acme", "verilog", True, None, ["Locked"]),
    ],
)
def test_generate_description_type_errors(args):
    with pytest.raises(TypeError):
        ip_scanner.generate_description(*args)


def test_accept_desc_types():
    assert ip_scanner._accept_desc("UART transmit engine", "uart_tx", "acme") is True
    assert ip_scanner._accept_desc(None, "uart_tx", "acme") is False
    for args in ([1, "n", "ns"], ["text", None, "ns"], ["text", "n", 2]):
        with pytest.raises(TypeError):
            ip_scanner._accept_desc(*args)


def test_hook_is_looked_up_at_each_use(recorder):
    assert ip_scanner._accept_desc("Copyright 2020 Acme", "uart", "acme") is True
    recorder.reject.add("fine text")
    assert ip_scanner._accept_desc("fine text", "uart", "acme") is False
    assert ip_scanner._accept_desc("", "uart", "acme") is False
    assert recorder.calls == [("Copyright 2020 Acme", "uart", "acme"), ("fine text", "uart", "acme")]


def test_hook_result_is_taken_for_its_truth(monkeypatch):
    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", lambda text, name=None, namespace=None: [])
    assert ip_scanner._accept_desc("x", "n", "ns") is True
    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", lambda text, name=None, namespace=None: "yes")
    assert ip_scanner._accept_desc("x", "n", "ns") is False


def test_hook_reaches_the_chain(recorder, tmp_path):
    recorder.reject.add("*")
    missing = tmp_path / "none.v"
    result = ip_scanner.generate_description("core", missing, "acme", "verilog", False, "Pipelined divider")
    assert result == ("acme IP: core", "auto")
    assert ("Pipelined divider", "core", "acme") in recorder.calls


class Boom(Exception):
    pass


def test_hook_errors_propagate_unchanged(monkeypatch, tmp_path):
    error = Boom("validator down")

    def failing(text, name=None, namespace=None):
        raise error

    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", failing)
    with pytest.raises(Boom) as caught:
        ip_scanner._accept_desc("x", "n", "ns")
    assert caught.value is error
    with pytest.raises(Boom):
        ip_scanner.generate_description("core", tmp_path / "none.v", "acme", "vhdl", False, "previous")

    class BadTruth:
        def __bool__(self):
            raise Boom("no truth")

    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", lambda *a, **k: BadTruth())
    with pytest.raises(Boom):
        ip_scanner._accept_desc("x", "n", "ns")
    monkeypatch.delattr(ip_scanner, "_desc_is_suspect")
    with pytest.raises(AttributeError):
        ip_scanner._accept_desc("x", "n", "ns")


def test_native_validator_restored(monkeypatch):
    monkeypatch.setattr(ip_scanner, "_desc_is_suspect", lambda *a, **k: True)
    assert ip_scanner._accept_desc("SPI master", "spi_master", "acme") is False
    monkeypatch.undo()
    assert ip_scanner._accept_desc("SPI master", "spi_master", "acme") is True
    assert ip_scanner._accept_desc("spi_master", "spi_master", "acme") is False
