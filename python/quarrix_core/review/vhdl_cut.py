"""A VHDL file cut down to one entity declaration, for GHDL to analyse when it rejects the whole file.

Ports need only the entity. An architecture that uses what the checkout
lacks (a library kept in a git submodule that is not checked out, a vendor's
primitives) makes GHDL reject the whole file, and with it the entity. The cut
keeps the text before the entity and the entity itself, and blanks the rest
and the context items GHDL could not resolve; line breaks and columns stay,
so GHDL's positions still point into the original text. If the entity needs
what was blanked, GHDL rejects the cut too.
"""

from __future__ import annotations

import dataclasses
import re

TAB = 8                     # GHDL counts columns with tab stops every 8
_TOKEN = re.compile(r'--[^\n]*|/\*.*?\*/|"(?:[^"\n]|"")*"|\\(?:[^\\\n]|\\\\)*\\|[A-Za-z]\w*|\'.\'|\S', re.S)
_CONTEXT_WORDS = ("library", "use", "context")


def char_index(line: str, column: int) -> int:
    """The index in `line` of GHDL's 1-based `column`."""
    col = 1
    for i, ch in enumerate(line):
        if col >= column:
            return i
        col = (col - 1) // TAB * TAB + TAB + 1 if ch == "\t" else col + 1
    return len(line)


@dataclasses.dataclass
class Cut:
    text: str               # the file with everything but the entity (and what precedes it) blanked
    dropped: list           # the context items blanked, as written


@dataclasses.dataclass(frozen=True)
class _Token:
    word: str               # lower-cased
    start: int
    end: int


def _tokens(text: str) -> list:
    found = []
    for m in _TOKEN.finditer(text):
        word = m.group()
        if not word.startswith(("--", "/*")):
            found.append(_Token(word.lower(), m.start(), m.end()))
    return found


def _offset(text: str, line: int, column: int) -> int:
    """The offset in `text` of GHDL's (line, column); -1 past the end."""
    starts = [0] + [m.end() for m in re.finditer("\n", text)]
    if not 0 < line <= len(starts):
        return -1
    begin = starts[line - 1]
    end = text.find("\n", begin)
    end = len(text) if end < 0 else end
    return begin + char_index(text[begin:end], column)


def _blank(chars: list, start: int, end: int) -> None:
    for i in range(start, end):
        if chars[i] not in "\n\r":
            chars[i] = " "


def entity_alone(text: str, entity: str, rejected: list) -> Cut | None:
    """`text` with only the entity `entity` and what precedes it, less the context items at the positions
    (line, column) of `rejected`; None when the entity's declaration is not found."""
    tokens = _tokens(text)
    name = entity.lower()
    begin = None
    for k in range(len(tokens) - 2):
        if (tokens[k].word == "entity" and tokens[k + 1].word == name and tokens[k + 2].word == "is"
                and (k == 0 or tokens[k - 1].word == ";")):
            begin = k
            break
    if begin is None:
        return None
    finish = None
    for k in range(begin + 3, len(tokens) - 1):
        if tokens[k].word != "end":
            continue
        tail = [t.word for t in tokens[k + 1:k + 4]]
        if tail[:1] == [";"] or tail[:2] in (["entity", ";"], [name, ";"]) or tail[:3] == ["entity", name, ";"]:
            finish = tokens[k + 1 + tail.index(";")].end
            break
    if finish is None:
        return None
    chars = list(text)
    _blank(chars, finish, len(chars))
    offsets = [_offset(text, line, column) for line, column in rejected]
    dropped = []
    k = 0
    while k < begin:
        first = k
        while k < begin and tokens[k].word != ";":
            k += 1
        if tokens[first].word in _CONTEXT_WORDS and k < begin:
            start, end = tokens[first].start, tokens[k].end
            if any(start <= at < end for at in offsets):
                dropped.append(" ".join(text[start:end].split()))
                _blank(chars, start, end)
        k += 1
    return Cut("".join(chars), dropped)
