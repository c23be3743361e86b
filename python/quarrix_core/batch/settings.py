"""Batch-wide scan settings, and the digests that tell whether a stored result still holds."""

from __future__ import annotations

import hashlib
import json
from dataclasses import asdict, dataclass
from typing import Optional

import quarrix_core

from .manifest import RepoSpec


@dataclass
class ScanSettings:
    """The quarrix-scan options a batch applies to every repository."""

    verify: bool = True
    tool_budget: float = 600.0
    tool_memory: float = float(2 << 30)
    cache_dir: Optional[str] = None
    use_cache: bool = True
    jobs: int = 1                            # tool checks of one repository at once
    use_llm: bool = False
    verdicts: Optional[dict] = None          # the loaded descriptions_verdicts.json
    llm_pace: Optional[str] = None           # QUARRIX_LLM_PACE and QUARRIX_LLM_PROVIDERS as quarrix-batch saw them
    llm_providers: Optional[str] = None

    def row_changing(self) -> dict:
        """What can change a row; where the tool cache lives cannot."""
        fields = asdict(self)
        for name in ("cache_dir", "use_cache", "jobs", "llm_pace", "llm_providers"):
            fields.pop(name)
        if not self.verify:
            fields.pop("tool_budget")
            fields.pop("tool_memory")
        return fields


def _digest(value) -> str:
    text = json.dumps(value, sort_keys=True, ensure_ascii=True, separators=(",", ":"), default=str)
    return hashlib.sha256(text.encode()).hexdigest()


def entry_digest(spec: RepoSpec, settings: ScanSettings) -> str:
    """Names one manifest entry with its options: the store holds one result per entry."""
    return _digest({
        "source": spec.source, "ref": spec.ref, "namespace": spec.namespace, "granularity": spec.granularity,
        "bucket_map": spec.bucket_map, "exclude": spec.exclude, "settings": settings.row_changing(),
    })


def result_key(entry: str, revision: dict) -> str:
    """Names what one scan saw: the entry, the revision of the repository and this package's version.

    `revision` holds the commit and what else of git goes into a row (the tags
    at that commit, the branch, the remote URL).
    """
    return _digest({"entry": entry, "revision": revision, "version": quarrix_core.__version__})


def dependent_key(own_key: Optional[str], dependencies: list) -> Optional[str]:
    """The key of rows scanned with `dependencies`, (namespace, that dependency's key or state) pairs.

    Without dependencies it is the entry's own key, as stores before
    dependencies hold it; None when any part cannot be told before scanning.
    """
    if not dependencies:
        return own_key
    if own_key is None or any(token is None for _, token in dependencies):
        return None
    return _digest({"own": own_key, "dependencies": sorted(dependencies)})
