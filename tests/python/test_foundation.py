"""Names, defaults and argument types of the pure operations on quarrix_core.ip_scanner."""

import os
import pathlib

import pytest

import quarrix_core.ip_scanner as s


def test_constants_and_tables():
    assert s.DESCRIPTION_MAX_CHARS == 240 and s.LLM_DESCRIPTION_MAX_CHARS == 240
    assert s.DEFAULT_VENDOR_SIM_EXCLUDES[:5] == ["glbl", "sim_lib", "*_atoms", "unisims_ver", "simprims_ver"]
    assert {"unisims", "unimacro", "xpm", "simprims", "secureip", "altera_mf", "prim_sim"} <= set(
        s.DEFAULT_VENDOR_SIM_EXCLUDES)
    assert len(s.SPDX_PATTERNS) == 28 and s.SPDX_PATTERNS[0] == ("MIT License", "MIT")
    assert s.SPDX_PATTERNS[21] == ("GNU AFFERO GENERAL PUBLIC LICENSE.*Version 3", "AGPL-3.0-only")
    assert s.SPDX_PATTERNS[11] == ("GNU LESSER GENERAL PUBLIC LICENSE.*Version 2(?!\\.)", "LGPL-2.0-only")
    assert [spdx for _, spdx in s.SPDX_PATTERNS[2:5]] == ["SHL-0.51", "SHL-2.1", "Apache-2.0"]
    assert len(s.ABBREVIATION_MAP) == 92 and list(s.ABBREVIATION_MAP)[:3] == ["eth", "mac", "phy"]
    assert s.ABBREVIATION_MAP["axis"] == "axi stream"
    assert len(s._TAG_STOPWORDS) == 61 and "wrapper" in s._TAG_STOPWORDS
    assert s._TAG_CAP_DEFAULT == 12
    assert s._SIM_NAME_RE == "(?:^|_)(?:sim|tb|testbench|bfm)(?:$|_)"
    assert s._TB_PATTERNS == "(?:^|_)(?:tb|test|sim|bench)(?:_|$)"
    assert s._MARKDOWN_ESCAPE_STRIP_RE == r"\\([\[\]\*_()\\`])"
    assert s._DANGLING_TAIL_RE.startswith(r"\s*(?:\b(?:at|including|such as|like|e\.g\.?")
    assert "MIT" in s._PERMISSIVE and "MPL-2.0" in s._WEAK_COPYLEFT and "EUPL-1.2" in s._STRONG_COPYLEFT


def test_operations_through_python(tmp_path, monkeypatch):
    assert s.classify_license("MIT OR GPL-3.0-only") == "permissive"
    assert s.is_simulation_only_name("fifo_tb") and not s.is_simulation_only_name("")
    assert s._strip_dangling_tail("see below, see:") == "see below,"
    assert s._strip_markdown_escapes(r"\_x\_") == "_x_"
    assert s._apply_length_cap("a" * 241) == "a" * 237 + "..."
    assert s._apply_length_cap("abcdef", max_chars=4) == "a..."
    assert s._cap_tags(["bb", "a", "ccc"], 2) == ["bb", "ccc"]
    assert s._cap_tags(["b", "a"]) == ["a", "b"]
    monkeypatch.delenv("QUARRIX_TAG_CAP", raising=False)
    assert s.generate_tags("spi_master", "x.v", [], [], ".") == ["interface", "master", "peripheral", "serial", "spi"]
    monkeypatch.setenv("QUARRIX_TAG_CAP", "2")
    assert s.generate_tags("spi_master", pathlib.Path("x.v"), [], ["xpm"], tmp_path) == ["interface", "peripheral"]
    (tmp_path / "COPYING").write_text("Mozilla Public License Version 2.0\n")
    assert s._detect_license(tmp_path) == "MPL-2.0"
    assert s._detect_license(str(tmp_path)) == "MPL-2.0"
    assert s._detect_license(tmp_path / "missing") == ""


@pytest.mark.parametrize(
    "call",
    [
        lambda: s.classify_license(None),
        lambda: s.is_simulation_only_name(3),
        lambda: s._strip_dangling_tail(b"x:"),
        lambda: s._apply_length_cap("x", 2.5),
        lambda: s._cap_tags("abc"),
        lambda: s._cap_tags([1, 2]),
        lambda: s.generate_tags("x", "x.v", (), [], "."),
        lambda: s.generate_tags("x", "x.v", [], ["ok", 3], "."),
        lambda: s.generate_tags(None, "x.v", [], [], "."),
        lambda: s._detect_license(42),
    ],
)
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
