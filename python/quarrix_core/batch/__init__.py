"""Many repositories at once: ``quarrix-batch`` over Dask distributed, incremental through a result store.

``run_batch(load_manifest(file), ScanSettings(...), BatchOptions(work=..., store=...))``
does what the command does without writing files; ``write_outputs`` writes them.
"""

from .manifest import ManifestError, RepoSpec, load_manifest
from .runner import BatchOptions, BatchResult, run_batch, write_outputs
from .settings import ScanSettings

__all__ = ["BatchOptions", "BatchResult", "ManifestError", "RepoSpec", "ScanSettings", "load_manifest",
           "run_batch", "write_outputs"]
