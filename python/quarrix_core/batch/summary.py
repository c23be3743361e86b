"""The table quarrix-batch prints at the end of a batch."""

from __future__ import annotations

from .llm_pace import batch_summary
from .runner import FAILED, BatchResult


def summary_text(result: BatchResult, use_llm: bool) -> str:
    heads = ("repositories", "scanned", "unchanged", "failed", "rows", "seconds")
    values = (len(result.outcomes), result.count("scanned"), result.count("unchanged"), result.failures() - result.count("interrupted"),
              sum(o.rows for o in result.outcomes), f"{result.seconds:.1f}")
    widths = [max(len(h), len(str(v))) for h, v in zip(heads, values)]
    lines = ["  ".join(h.rjust(w) for h, w in zip(heads, widths)),
             "  ".join(str(v).rjust(w) for v, w in zip(values, widths))]
    for outcome in result.outcomes:
        if outcome.status in FAILED:
            lines.append(f"{outcome.status}: {outcome.spec.label}: {outcome.error}")
    if use_llm and result.llm_stats:
        lines.append(batch_summary(result.llm_stats, result.llm_dead))
    return "\n".join(lines)
