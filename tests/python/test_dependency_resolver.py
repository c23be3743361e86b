"""quarrix_core.dependency_resolver on small repositories built per test."""

import pathlib

import pytest

from quarrix_core.dependency_resolver import DependencyResolver


def write(root, files):
    for rel, text in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text if isinstance(text, bytes) else text.encode())


@pytest.fixture
def repo(tmp_path):
    write(tmp_path, {
        "rtl/top.sv": "module top; fifo #(.W(8)) u0(); import bus_pkg::*; endmodule\n",
        "rtl/fifo.v": "module fifo #(parameter W = 1); endmodule\n",
        "rtl/bus_pkg.sv": "package bus_pkg; endpackage\n",
        "rtl/loop_a.v": "module loop_a; loop_b u(); endmodule\n",
        "rtl/loop_b.v": "module loop_b; loop_a u(); endmodule\n",
        "rtl/glbl.v": "module glbl; endmodule\n",
        "rtl/dec.vhd": "library unisim; use unisim.vcomponents.all;\nentity dec is end;\n",
        "rtl/bad.v": b"module bad; // \xff\nendmodule\n",
    })
    return tmp_path


def test_queries_as_the_scan_driver_uses_them(repo):
    r = DependencyResolver([repo / "rtl"], respect_gitignore=False, exclude_dirs=["glbl"])
    rtl = repo / "rtl"
    assert r.entity_map == {  # bad.v's byte that is not UTF-8 is read as U+FFFD
        "bad": str(rtl / "bad.v"), "bus_pkg": str(rtl / "bus_pkg.sv"), "dec": str(rtl / "dec.vhd"),
        "fifo": str(rtl / "fifo.v"), "loop_a": str(rtl / "loop_a.v"), "loop_b": str(rtl / "loop_b.v"),
        "top": str(rtl / "top.sv"),
    }
    assert r.package_map == {"bus_pkg": str(rtl / "bus_pkg.sv")}
    assert r.get_compilation_order("top") == [str(rtl / "fifo.v"), str(rtl / "bus_pkg.sv"), str(rtl / "top.sv")]
    assert r.unresolved_use_clauses() == [("unisim", "vcomponents")]


def test_errors_the_driver_absorbs(repo):
    r = DependencyResolver([str(repo / "rtl")])
    with pytest.raises(KeyError) as info:
        r.get_compilation_order("glbl_x")
    assert info.value.args == ("glbl_x",)
    with pytest.raises(RecursionError, match="loop_a -> loop_b -> loop_a"):
        r.get_compilation_order("loop_a")


@pytest.mark.parametrize("args, kwargs", [
    (("rtl",), {}),                                  # a str is not a list of roots
    ([[1]], {}),
    ([[]], {"respect_gitignore": 1}),
    ([[]], {"exclude_dirs": "glbl"}),
    ([[]], {"exclude_dirs": [pathlib.Path("glbl")]}),
    ([[]], {"unknown": True}),
])
def test_wrong_argument_types(args, kwargs):
    with pytest.raises(TypeError):
        DependencyResolver(*args, **kwargs)


def test_name_must_be_str(repo):
    with pytest.raises(TypeError):
        DependencyResolver([repo]).get_compilation_order(1)


def test_respect_gitignore(tmp_path):
    write(tmp_path, {
        ".git/HEAD": "ref: refs/heads/main\n",
        ".gitignore": "gen/\n",
        "src/a.v": "module a; endmodule\n",
        "src/gen/b.v": "module b; endmodule\n",
    })
    assert sorted(DependencyResolver([tmp_path / "src"]).entity_map) == ["a", "b"]
    assert sorted(DependencyResolver([tmp_path / "src"], respect_gitignore=True).entity_map) == ["a"]
