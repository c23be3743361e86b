"""Many repositories at once: ``quarrix-batch`` over Dask distributed, incremental through a result store.

``run_batch(load_manifest(file), ScanSettings(...), BatchOptions(work=..., store=...))``
does what the command does without writing files; ``write_outputs`` writes them.

The names are loaded on first use: the scan process that each repository
runs in imports this package too, and needs none of them.
"""

import importlib

_HOMES = {"BatchOptions": "runner", "BatchResult": "runner", "run_batch": "runner", "write_outputs": "runner",
          "ManifestError": "manifest", "RepoSpec": "manifest", "load_manifest": "manifest",
          "ScanSettings": "settings"}
__all__ = sorted(_HOMES)


def __getattr__(name):
    if name not in _HOMES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    return getattr(importlib.import_module(f".{_HOMES[name]}", __name__), name)
