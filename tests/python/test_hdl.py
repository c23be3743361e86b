"""HDL source analysis and the ports tier as the host sees them."""

import pathlib

import pytest

from quarrix_core import ip_scanner as s

FIFO_SV = """// Asynchronous FIFO with gray-coded pointers for clock crossing
module axis_async_fifo #(parameter DEPTH = 16, parameter DATA_WIDTH = 8) (
  input  wire s_axis_tdata, input wire s_axis_tvalid, output wire s_axis_tready,
  input  wire s_axis_tlast, axi_if.slave mon
);
endmodule
"""


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "axis_async_fifo.SV"
    path.write_text(FIFO_SV)
    return path


def test_tables_have_their_shapes():
    assert len(s.PROTOCOL_SIGNATURES) == 15 and len(s.INTERFACE_PATTERNS) == 6
    assert s.PROTOCOL_SIGNATURES[2] == ("axi4_stream", ["tdata", "tvalid", "tready", "tlast", "tkeep"], 3, "AXI4-Stream")
    assert s.INTERFACE_PATTERNS[3] == ("interrupt", ["irq", "interrupt"], 1, "interrupt support")
    assert len(s.ENTITY_ROLE_PATTERNS) == 40
    assert s.ENTITY_ROLE_PATTERNS[-1] == ("psdpram", "pseudo dual-port RAM")
    assert s._SKIP_PATTERNS.startswith("(?i)(?:SPDX|Copyright|") and s._SKIP_PATTERNS.endswith("|^Module:\\s")
    assert s._REPO_BOILERPLATE.endswith("|unless required by applicable law)")
    assert s._MEANINGFUL_GENERICS.startswith("(?:DATA|ADDR|BUS)_?WIDTH|")


def test_source_text_operations():
    assert s._extract_port_names(FIFO_SV, ".sv") == [
        "s_axis_tdata", "s_axis_tvalid", "s_axis_tready", "s_axis_tlast", "axi_if", "mon"]
    assert s._extract_generic_names(FIFO_SV, ".sv") == ["depth", "data_width"]
    assert s._extract_port_names("", ".vhd") == []
    assert s._detect_interfaces({"vld", "rdy"}, []) == ["ready/valid handshake"]
    assert s._detect_protocols(frozenset(), ("uart_tx", "uart_rx")) == ["UART"]
    assert s._detect_entity_role("ip_core") is None
    assert s._detect_entity_protocol("wb_uart") == "Wishbone"


def test_file_operations_accept_str_and_pathlike(fifo):
    for path in (fifo, str(fifo)):
        assert s._extract_header_description(path) == "Asynchronous FIFO with gray-coded pointers for clock crossing"
        assert s._extract_module_signature(path).startswith("module axis_async_fifo #(")
        description, hints = s._infer_description_from_ports("axis_async_fifo", path)
        assert description == "AXI4-Stream FIFO buffer with configurable parameters"
        assert hints == {"protocols": ["AXI4-Stream"], "interfaces": [], "role": "FIFO buffer", "has_generics": True}
        assert list(hints) == ["protocols", "interfaces", "role", "has_generics"]


def test_defaults_and_missing_files(tmp_path):
    v = tmp_path / "m.v"
    v.write_text("module m (\n" + "".join(f"  input p{i},\n" for i in range(60)) + "  input q);\n")
    assert len(s._extract_module_signature(v).splitlines()) == 40
    assert len(s._extract_module_signature(v, 3).splitlines()) == 3
    assert s._extract_module_signature(v, max_lines=10**30).endswith("input q);")
    missing = tmp_path / "missing.v"
    assert s._extract_module_signature(missing) is None
    assert s._extract_header_description(missing) is None
    assert s._infer_description_from_ports("m", missing) == (
        None, {"protocols": [], "interfaces": [], "role": None, "has_generics": False})


def test_header_helpers():
    assert s._extract_vhdl_header("-- Gray code counter with enable input\nentity c is") == \
        "Gray code counter with enable input"
    assert s._extract_verilog_header("/* Round robin arbiter for four requesters */\nmodule m;") == \
        "Round robin arbiter for four requesters"
    assert s._clean_comment_lines(["// one two three four five"], "//") == "one two three four five"
    assert s._clean_comment_lines(("-- too short",), "--") is None


def test_compose_description():
    assert s._compose_description("spi_ctrl", ["SPI"], [], "controller", False) == "SPI controller"
    assert s._compose_description("my_block", [], ["ready/valid handshake", "interrupt support"], None, True) == \
        "Block IP core with ready/valid handshake and interrupt support"


@pytest.mark.parametrize("call", [
    lambda: s._extract_port_names(b"input a;", ".v"),
    lambda: s._extract_generic_names("x", None),
    lambda: s._extract_module_signature(42),
    lambda: s._extract_module_signature("m.v", "40"),
    lambda: s._extract_module_signature("m.v", 4.0),
    lambda: s._detect_protocols("sclk", []),
    lambda: s._detect_protocols(set(), [1]),
    lambda: s._detect_interfaces({"a"}, "ab"),
    lambda: s._detect_entity_role(None),
    lambda: s._detect_entity_protocol(b"spi"),
    lambda: s._extract_header_description(None),
    lambda: s._extract_vhdl_header(pathlib.Path("x.vhd")),
    lambda: s._extract_verilog_header(1),
    lambda: s._clean_comment_lines("-- a b c d e", "--"),
    lambda: s._clean_comment_lines(["a"], None),
    lambda: s._infer_description_from_ports(None, "m.v"),
    lambda: s._infer_description_from_ports("m", 1),
    lambda: s._compose_description("m", "SPI", [], None, False),
    lambda: s._compose_description("m", [], [], 1, False),
    lambda: s._compose_description("m", [], [], None, "yes"),
])
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
