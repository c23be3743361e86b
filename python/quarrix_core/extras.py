"""The optional parts of the package: a command whose extra is missing says how to install it, in one line."""

from __future__ import annotations

import importlib.util
import sys

# The modules each extra of pyproject.toml brings, by import name; a tuple holds the names one package went by.
_MODULES = {
    "batch": (("yaml",), ("dask",), ("distributed",), ("tqdm",), ("cryptography",)),
    "review": (("starlette",), ("uvicorn",), ("jinja2",), ("python_multipart", "multipart"), ("pyslang",),
               ("pygments",)),
}


def missing_modules(extra: str) -> list[str]:
    return [names[0] for names in _MODULES[extra] if not any(_importable(n) for n in names)]


def _importable(name: str) -> bool:
    try:
        return importlib.util.find_spec(name) is not None
    except (ImportError, ValueError):   # a module set to None in sys.modules, or one without a spec
        return False


def require_extra(prog: str, extra: str) -> None:
    """Ends the program with status 2 and the `pip install` that fixes it when a module of `extra` is missing."""
    missing = missing_modules(extra)
    if missing:
        print(f"{prog}: the '{extra}' extra is not installed (no module {', '.join(missing)}); "
              f"pip install 'quarrix-core[{extra}]'", file=sys.stderr)
        raise SystemExit(2)
