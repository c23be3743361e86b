"""A row as one line of `quarrix-scan --format jsonl`."""

import json
import re


_C1 = re.compile("[\x80-\x9f]")


def row_line(row: dict) -> str:
    """Compact, keys in row order, text as UTF-8, ending in a line break.

    A string the binding got from bytes that are not UTF-8 (a file name) holds
    them as lone surrogates U+DC80..U+DCFF; quarrix-scan writes each as the
    escape json.dumps would write for it (\\udcff), and so does this. C1
    controls are escaped too (\\u009b), as quarrix-scan escapes them, so a
    terminal that shows the rows stays a terminal.
    """
    text = json.dumps(row, ensure_ascii=False, separators=(",", ":")) + "\n"
    text = _C1.sub(lambda m: "\\u%04x" % ord(m.group()), text)
    return text.encode("utf-8", "backslashreplace").decode("utf-8")
