"""The typed face: stubs installed with every extension, parameters typed in
them, and the typed host usage (typed/usage.py) running as mypy checked it."""

import ast
import importlib.util
import pathlib
import sys

import pytest

EXTENSIONS = ["ip_scanner", "dependency_resolver", "description_validator", "probes"]
# Generic types an annotation must parameterise.
BARE_GENERICS = {"list", "dict", "tuple", "set", "frozenset", "Iterator", "Callable"}
# Parameters that really take any object.
ANY_OBJECT = {"_detect_vendor_variants.repo_path", "_ProviderStatsView.get.default"}


def stub_path(module):
    origin = importlib.util.find_spec(f"quarrix_core.{module}").origin
    return pathlib.Path(origin).with_name(f"{module}.pyi")


def untyped(annotation):
    """What makes one annotation untyped: missing, `object`, or a bare generic."""
    if annotation is None:
        return "no annotation"
    subscripted = {id(n.value) for n in ast.walk(annotation) if isinstance(n, ast.Subscript)}
    for node in ast.walk(annotation):
        if isinstance(node, ast.Name) and node.id in BARE_GENERICS and id(node) not in subscripted:
            return f"bare {node.id}"
    if isinstance(annotation, ast.Name) and annotation.id == "object":
        return "object"
    return None


def functions(tree):
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield node.name, node
        elif isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    yield f"{node.name}.{item.name}", item


def test_package_is_marked_typed():
    import quarrix_core
    assert (pathlib.Path(quarrix_core.__file__).parent / "py.typed").is_file()


@pytest.mark.parametrize("module", EXTENSIONS)
def test_stub_types_every_parameter_and_result(module):
    tree = ast.parse(stub_path(module).read_text())
    faults = []
    for name, fn in functions(tree):
        params = [*fn.args.posonlyargs, *fn.args.args, *fn.args.kwonlyargs]
        for param in params:
            if param.arg == "self" or f"{name}.{param.arg}" in ANY_OBJECT:
                continue
            is_comparison = fn.name in ("__eq__", "__contains__")
            fault = untyped(param.annotation)
            if fault and not (is_comparison and fault == "object"):
                faults.append(f"{name}({param.arg}): {fault}")
        fault = untyped(fn.returns)
        if fault and fault != "object":
            faults.append(f"{name} -> {fault}")
    assert not faults


@pytest.fixture
def repo(tmp_path):
    (tmp_path / "hdl").mkdir()
    (tmp_path / "rtl").mkdir()
    (tmp_path / "sim").mkdir()
    (tmp_path / "hdl" / "leaf.v").write_text("module leaf; endmodule\n")
    (tmp_path / "rtl" / "top.v").write_text("// Packet router with four ports.\nmodule router; leaf l(); endmodule\n")
    (tmp_path / "sim" / "bench.v").write_text("module bench; router r(); endmodule\n")
    return tmp_path


def test_typed_usage_runs_as_checked(repo, monkeypatch):
    monkeypatch.syspath_prepend(str(pathlib.Path(__file__).parent / "typed"))
    monkeypatch.delitem(sys.modules, "usage", raising=False)
    import usage

    out = usage.host_session(repo)
    assert [pathlib.Path(p).name for p in out["order"]] == ["leaf.v", "top.v"]
    assert [r["name"] for r in out["rows"]] == [r["name"] for r in out["own_rows"]] == ["leaf", "router"]
    assert out["roles"] == {"leaf": "primitive", "router": "top"}
    assert out["description"] == ("acme IP: leaf", "auto") and out["suspect"] is True and out["locked"] is None
    assert out["tags"] == ["fpga", "unisim", "xilinx"]
    assert out["license"] == "permissive" and out["sim_only"] is True
    assert out["summary"] == "LLM: no provider calls recorded"
