"""A unit's ports and parameters as real parsers see them, for the row page.

Verilog and SystemVerilog go through pyslang (the slang front end): the
unit's compile list is parsed and the unit elaborated as the top, so a port
inherits its direction and type as the language says and widths are the
default parameters' widths. VHDL goes through GHDL's own AST dump
(`ghdl --file-to-xml`) after the compile list's other files are analysed
into the row's library; GHDL gives names, modes and positions, and a type or
default is the source text from the position GHDL reports. When GHDL
rejects the unit's file as a whole, it is asked again about the entity
declaration alone (vhdl_cut.py), which is all the ports need. A file either
parser still rejects yields the parser's message and no ports: never a guess.

Results are kept on disk under the index directory, keyed by the contents
of every file of the compile list, so each unit is parsed once.
"""

from __future__ import annotations

import dataclasses
import functools
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import xml.etree.ElementTree as ET

from .vhdl_cut import char_index, entity_alone

CACHE_DIR = ".review-cache"
CACHE_VERSION = 5
GHDL_TIMEOUT_S = 60
RESOLVE_BUDGET_S = 15
HEADER_SUFFIXES = (".svh", ".vh", ".inc")
VHDL_SUFFIXES = (".vhd", ".vhdl")
_SPACE = re.compile(r"\s+")
_VHDL_UNIT = re.compile(r"^\s*(?:package|entity)\s+(\w+)\s+is\b", re.I | re.M)
_MISSING_UNIT = re.compile(r'unit "(\w+)" not found in library "(\w+)"')
_GHDL_AT = re.compile(r"^(.*?):(\d+):(\d+): ", re.M)
_MISSING_INCLUDE = re.compile(r"'([^']+)': No such file or directory")
_COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.S)
MAX_CHECKOUT_FILES = 20000
MAX_SCAN_BYTES = 1 << 20


@dataclasses.dataclass
class Interface:
    parser: str                              # "pyslang 9.0" or "GHDL 2.0.0"
    ports: list = dataclasses.field(default_factory=list)    # {name, direction, type, width, written}
    params: list = dataclasses.field(default_factory=list)   # {name, kind, type, default}
    problem: str = ""                        # the parser's own message when it rejected the source
    note: str = ""                           # how the parser was asked, when not about the file as it stands
    first_line: int = 0                      # the declaration's lines in the unit's own file (1-based)
    last_line: int = 0


@functools.lru_cache(maxsize=64)
def _checkout_files(checkout: str) -> tuple:
    """The HDL sources and headers of one checkout (bounded), for what a compile list leaves out."""
    found = []
    for base, dirs, files in os.walk(checkout):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        # An `include may name a .sv or .v file as well as a header.
        found += [os.path.join(base, f) for f in files
                  if f.lower().endswith(HEADER_SUFFIXES + VHDL_SUFFIXES + (".sv", ".v"))
                  and _inside(os.path.realpath(os.path.join(base, f)), checkout)]   # no link out
        if len(found) > MAX_CHECKOUT_FILES:
            break
    return tuple(found)


@functools.lru_cache(maxsize=64)
def _vhdl_units(checkout: str) -> dict:
    """Package and entity name (lower case) -> the checkout's file that declares it."""
    units = {}
    for path in _checkout_files(checkout):
        if path.lower().endswith(VHDL_SUFFIXES):
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read(MAX_SCAN_BYTES)
            except OSError:
                continue
            for name in _VHDL_UNIT.findall(text):
                units.setdefault(name.lower(), path)
    return units


def _squash(text) -> str:
    return _SPACE.sub(" ", str(text)).strip()


# -- Verilog / SystemVerilog ---------------------------------------------------------------------------------

def _pyslang_version() -> str:
    try:
        from importlib.metadata import version
        return f"pyslang {version('pyslang')}"
    except Exception:                       # noqa: BLE001 - a version string is cosmetic
        return "pyslang"


def _inside(path: str, root: str) -> bool:
    return path == root or path.startswith(root.rstrip(os.sep) + os.sep)


def _sv_interface(name: str, paths: list, include_dirs: list, checkout: str | None = None,
                  root: str = "/") -> Interface:
    result = _sv_parse(name, paths, include_dirs, root)
    missing = set(_MISSING_INCLUDE.findall(result.problem))
    if not missing or checkout is None:
        return result
    # An include the compile list does not name: a build would pass its directory with -I.
    extra = []
    for path in _checkout_files(checkout):
        for wanted in missing:
            if path.endswith(os.sep + wanted):
                extra.append(path[:-len(wanted) - 1])
    return _sv_parse(name, paths, include_dirs + sorted(set(extra)), root) if extra else result


def _sv_parse(name: str, paths: list, include_dirs: list, root: str) -> Interface:
    import pyslang
    from pyslang import ast, syntax

    result = Interface(_pyslang_version())
    manager = pyslang.SourceManager()
    for d in include_dirs:
        manager.addUserDirectories(d)
    options = ast.CompilationOptions()
    options.topModules = {name}
    compilation = ast.Compilation(pyslang.Bag([options]))
    trees = []
    for path in paths:
        tree = syntax.SyntaxTree.fromFile(path, manager)
        trees.append(tree)
        compilation.addSyntaxTree(tree)
    # An include may climb out of the checkout; the parser's messages would quote what it read there.
    if _reads_outside(manager, os.path.realpath(root)):
        result.problem = "the source includes a file outside --repo-root, so it is not parsed"
        return result
    # Only the unit's own file decides: a dependency's slip does not hide ports.
    errors = [d for d in trees[-1].diagnostics if d.isError()]
    if errors:
        result.problem = pyslang.DiagnosticEngine.reportAll(manager, errors).strip()
        return result
    tops = [i for i in compilation.getRoot().topInstances if i.name == name]
    if not tops:
        result.problem = f"pyslang finds no module, interface or program named {name} in this compile list"
        return result
    body = tops[0].body
    header = body.definition.syntax.header
    result.first_line = manager.getLineNumber(header.sourceRange.start)
    result.last_line = manager.getLineNumber(header.sourceRange.end)
    result.ports = [_sv_port(port) for port in body.portList]
    result.params = [_sv_param(param) for param in body.parameters]
    return result


def _reads_outside(manager, allowed: str) -> bool:
    for buffer in manager.getAllBuffers():
        full = str(manager.getFullPath(buffer))
        if full and os.path.isabs(full) and not _inside(os.path.realpath(full), allowed):
            return True
    return False


def _sv_port(port) -> dict:
    direction = getattr(port, "direction", None)
    kind = str(port.kind).rsplit(".", 1)[-1]
    if direction is not None:
        direction = {"In": "input", "Out": "output", "InOut": "inout", "Ref": "ref"}.get(
            str(direction).rsplit(".", 1)[-1], str(direction))
    else:
        direction = "interface" if kind == "InterfacePort" else kind
    type_ = getattr(port, "type", None)
    width = ""
    if type_ is not None and getattr(type_, "isFixedSize", False) and type_.bitWidth:
        width = str(type_.bitWidth)
    elif kind == "InterfacePort":
        iface = getattr(port, "interfaceDef", None)
        modport = getattr(port, "modport", "")
        type_ = (iface.name if iface is not None else "interface") + (f".{modport}" if modport else "")
    syn = getattr(port, "syntax", None)
    written = _squash(_COMMENT.sub(" ", str(syn.parent))) if syn is not None and syn.parent is not None else ""
    return {"name": port.name, "direction": direction, "type": str(type_ or ""), "width": width,
            "written": written[:200]}


def _sv_param(param) -> dict:
    kind = str(param.kind).rsplit(".", 1)[-1]
    syn = getattr(param, "syntax", None)
    text = _squash(_COMMENT.sub(" ", str(syn))) if syn is not None else ""
    default = text.split("=", 1)[1].strip() if "=" in text else ""
    return {
        "name": param.name,
        "kind": ("localparam" if param.isLocalParam else "parameter") + (" type" if kind == "TypeParameter"
                                                                          else ""),
        "type": "" if kind == "TypeParameter" else str(getattr(param, "type", "")),
        "default": default[:200]}


# -- VHDL ----------------------------------------------------------------------------------------------------

def _ghdl_std(language: str) -> str:
    for year, std in (("93", "93c"), ("2002", "02"), ("02", "02"), ("87", "87")):
        if language.endswith(year):
            return std
    return "08"


def _ghdl_version(ghdl: str) -> str:
    try:
        first = subprocess.run([ghdl, "--version"], capture_output=True, text=True, timeout=10).stdout
        return " ".join(first.split()[:2]) or "GHDL"
    except (OSError, subprocess.SubprocessError):
        return "GHDL"


def _slice_to_end(lines: list, line: int, col: int) -> str:
    """Source text from (line, col) to the end of one interface item: `;`, `:=` or the list's `)`."""
    depth, out = 0, []
    for number in range(line - 1, min(len(lines), line + 40)):
        text = lines[number][char_index(lines[number], col):] if number == line - 1 else lines[number]
        i = 0
        while i < len(text):
            ch = text[i]
            if text.startswith("--", i):
                break
            if ch == '"':                   # a string default may hold ( ) ; or :=
                end = text.find('"', i + 1)
                end = len(text) - 1 if end < 0 else end
                out.append(text[i:end + 1])
                i = end + 1
                continue
            if ch == "(":
                depth += 1
            elif ch == ")":
                if depth == 0:
                    return _squash("".join(out))
                depth -= 1
            elif depth == 0 and (ch == ";" or text.startswith(":=", i)):
                return _squash("".join(out))
            out.append(ch)
            i += 1
        out.append(" ")
    return _squash("".join(out))


@dataclasses.dataclass
class _Analysis:
    """GHDL analysing one compile list: the program, its standard flags, its work directory, the checkout
    searched for missing units, and the (file, library) pairs done so far."""

    ghdl: str
    std: list
    work: str
    checkout: str | None
    deadline: float                         # past it, what is still missing is left to GHDL's message
    done: set = dataclasses.field(default_factory=set)

    def analyse(self, path: str, library: str, depth: int = 0) -> None:
        """Analyse `path` into `library`, first any unit it uses that the checkout declares elsewhere."""
        self.done.add((path, library))
        args = [self.ghdl, "-a", *self.std, f"--work={library}", f"--workdir={self.work}", f"-P{self.work}", path]
        ran = subprocess.run(args, capture_output=True, timeout=GHDL_TIMEOUT_S, cwd=self.work)
        if ran.returncode == 0 or self.checkout is None or depth > 8 or time.monotonic() > self.deadline:
            return
        self.analyse_missing(ran.stderr.decode("utf-8", "replace"), depth)
        subprocess.run(args, capture_output=True, timeout=GHDL_TIMEOUT_S, cwd=self.work)

    def analyse_missing(self, message: str, depth: int) -> bool:
        found = False
        if self.checkout is None or time.monotonic() > self.deadline:
            return False
        for unit, library in dict.fromkeys(_MISSING_UNIT.findall(message)):
            path = _vhdl_units(self.checkout).get(unit.lower())
            # Keyed by library too: the row names one library, a file of the list may belong to another.
            if path is not None and (path, library.lower()) not in self.done:
                self.analyse(path, library.lower(), depth + 1)
                found = True
        return found


def _entity_alone(ghdl: str, base: list, work: str, path: str, name: str, rejected) -> tuple:
    """(GHDL's dump or None, the file it dumped, a note) for `name`'s entity declaration without the rest of
    `path`, which GHDL `rejected`: the rest may use what the checkout lacks, and the ports do not need it."""
    message = rejected.stderr.decode("utf-8", "replace")
    at = [(int(m.group(2)), int(m.group(3))) for m in _GHDL_AT.finditer(message) if m.group(1) == path]
    try:
        with open(path, encoding="utf-8", errors="replace", newline="") as f:
            cut = entity_alone(f.read(), name, at)
    except OSError:
        return None, path, ""
    if cut is None:
        return None, path, ""
    alone = os.path.join(work, "entity-alone", os.path.basename(path))
    os.makedirs(os.path.dirname(alone), exist_ok=True)
    with open(alone, "w", encoding="utf-8", newline="") as f:
        f.write(cut.text)
    done = subprocess.run([ghdl, "--file-to-xml", *base, alone], capture_output=True, timeout=GHDL_TIMEOUT_S, cwd=work)
    if not done.stdout:
        return None, path, ""
    first = next((line for line in message.splitlines() if line.strip()), "")
    note = ("GHDL rejects the file as a whole (" + first.replace(path, os.path.basename(path)) + "), so these "
            "ports are GHDL's analysis of the entity declaration alone, without the rest of the file"
            + ("".join(f"; without `{item}`" for item in cut.dropped)))
    return done.stdout, os.path.realpath(alone), note


def _vhdl_interface(name: str, paths: list, library: str, language: str, checkout: str | None = None) -> Interface:
    ghdl = shutil.which("ghdl")
    if ghdl is None:
        return Interface("GHDL", problem="GHDL (ghdl) is not installed, so VHDL ports are not parsed")
    result = Interface(_ghdl_version(ghdl))
    lib = library if re.fullmatch(r"[A-Za-z][A-Za-z0-9_]*", library or "") else "work"
    with tempfile.TemporaryDirectory(prefix="quarrix-ghdl-") as work:
        analysis = _Analysis(ghdl, [f"--std={_ghdl_std(language)}", "-frelaxed"], work, checkout,
                             time.monotonic() + RESOLVE_BUDGET_S)
        try:
            dumped, own, done = _ghdl_dump(analysis, paths, lib, name, result)
        except subprocess.TimeoutExpired:
            result.problem = f"GHDL took longer than {GHDL_TIMEOUT_S} s"
            return result
    if dumped is None:
        result.problem = done.stderr.decode("utf-8", "replace").strip() or f"ghdl exited with {done.returncode}"
        return result
    entity = None
    for el in ET.fromstring(dumped).iter():
        if (el.get("kind") == "entity_declaration" and el.get("identifier") == name.lower()
                and os.path.realpath(el.get("file", "")) == own):
            entity = el
            break
    if entity is None:
        result.problem = f"GHDL finds no entity {name} in {os.path.basename(paths[-1])}"
        return result
    with open(paths[-1], encoding="utf-8", errors="replace") as f:
        _VhdlEntity(entity, f.read().splitlines()).fill(result)
    return result


def _ghdl_dump(analysis: _Analysis, paths: list, lib: str, name: str, result: Interface) -> tuple:
    """(GHDL's XML dump of the unit's own file or None, the file it dumped, GHDL's last run); the note
    of a dump of the entity declaration alone goes to `result`."""
    ghdl, work = analysis.ghdl, analysis.work
    base = [*analysis.std, f"--work={lib}", f"--workdir={work}", f"-P{work}"]
    for dep in paths[:-1]:
        # A dependency that fails leaves its units out; the own file's message then says what is missing.
        analysis.analyse(dep, lib)
    analysis.done.add((paths[-1], lib))
    for _ in range(8):
        done = subprocess.run([ghdl, "--file-to-xml", *base, paths[-1]], capture_output=True,
                              timeout=GHDL_TIMEOUT_S, cwd=work)
        # GHDL exits 0 even when the dump failed: its output is then empty.
        if done.stdout or not analysis.analyse_missing(done.stderr.decode("utf-8", "replace"), 0):
            break
    own, dumped = os.path.realpath(paths[-1]), done.stdout or None
    if dumped is None:
        dumped, own, result.note = _entity_alone(ghdl, base, work, paths[-1], name, done)
    return dumped, own, done


class _VhdlEntity:
    """An entity declaration of GHDL's dump, read against its source lines."""

    def __init__(self, entity, lines: list):
        self.entity, self.lines = entity, lines

    @staticmethod
    def at(el) -> tuple:
        return int(el.get("line", "0") or 0), int(el.get("col", "0") or 0)

    def source_name(self, el, fallback: str) -> str:
        line, col = self.at(el)
        if 0 < line <= len(self.lines):
            first = char_index(self.lines[line - 1], col)
            word = self.lines[line - 1][first:first + len(fallback)]
            if word.lower() == fallback:
                return word
        return fallback

    def start(self, el) -> tuple:
        # A constrained subtype's own position is its constraint; its type mark comes first.
        found = [self.at(x) for x in el.iter() if x.get("line")]
        return min(found) if found else (0, 0)

    def items(self, chain_name: str):
        chain = self.entity.find(chain_name)
        last_type = last_default = ""
        for el in chain if chain is not None else ():
            subtype, default = el.find("subtype_indication"), el.find("default_value")
            if subtype is not None and subtype.get("line"):
                last_type = _slice_to_end(self.lines, *self.start(subtype))
            elif subtype is None:
                last_type = "type" if el.get("kind") == "interface_type_declaration" else ""
            if default is not None and default.get("line"):
                last_default = _slice_to_end(self.lines, *self.start(default))
            elif default is None:
                last_default = ""
            yield el, last_type, last_default

    def fill(self, result: Interface) -> None:
        """The generics, the ports and the lines they span."""
        result.first_line = self.at(self.entity)[0]
        last = result.first_line
        for el, type_text, default in self.items("generic_chain"):
            kind = el.get("kind", "").replace("interface_", "").replace("_declaration", "")
            result.params.append({"name": self.source_name(el, el.get("identifier", "")), "kind": f"generic {kind}",
                                  "type": type_text, "default": default})
            last = max(last, self.at(el)[0])
        for el, type_text, default in self.items("port_chain"):
            found = re.search(r"\((.*)\)\s*$", type_text)
            result.ports.append({"name": self.source_name(el, el.get("identifier", "")),
                                 "direction": el.get("mode", "in"), "type": type_text,
                                 "width": found.group(1).strip() if found else "",
                                 "written": f"{type_text} := {default}" if default else ""})
            last = max(last, self.at(el)[0])
        result.last_line = last + 1


# -- cache ---------------------------------------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class UnitFiles:
    """A unit to parse: its name, language and library, its compile list (resolved, its own file last), the
    root its files lie in, and its repository's checkout, searched for what the list leaves out."""

    name: str
    language: str
    library: str
    paths: list
    root: str
    checkout: str | None = None


class InterfaceCache:
    """Parsed interfaces on disk under INDEX/.review-cache, one JSON file per compile list's contents."""

    def __init__(self, index_dir):
        self.dir = os.path.join(os.fspath(index_dir), CACHE_DIR, "interfaces")

    def _key(self, name: str, language: str, library: str, paths: list) -> str:
        digest = hashlib.sha256(json.dumps([CACHE_VERSION, name, language, library]).encode())
        for path in paths:
            digest.update(path.encode("utf-8", "surrogateescape") + b"\0")
            with open(path, "rb") as f:
                digest.update(hashlib.sha256(f.read()).digest())
        return digest.hexdigest()

    def get(self, unit: UnitFiles) -> Interface:
        try:
            key = self._key(unit.name, unit.language, unit.library, unit.paths)
        except OSError as exc:
            return Interface("", problem=f"cannot read the compile list ({exc.strerror})")
        where = os.path.join(self.dir, key + ".json")
        try:
            with open(where, encoding="utf-8") as f:
                return Interface(**json.load(f))
        except (OSError, ValueError, TypeError):
            pass
        result = parse_interface(unit.name, unit.language, unit.library, unit.paths, unit.root, unit.checkout)
        try:
            os.makedirs(self.dir, exist_ok=True)
            fd, tmp = tempfile.mkstemp(dir=self.dir, suffix=".tmp")
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                json.dump(dataclasses.asdict(result), f)
            os.replace(tmp, where)
        except OSError:
            pass                            # an unwritable index only costs a parse next time
        return result


def include_dirs(paths: list, root: str) -> list:
    """Every directory from each header's own up to the root: `include "a/b.svh"` finds it at any depth."""
    dirs = []
    for path in paths:
        if path.endswith(HEADER_SUFFIXES):
            d = os.path.dirname(path)
            while d.startswith(root) and d not in dirs:
                dirs.append(d)
                d = os.path.dirname(d)
    return dirs or [root]


def parse_interface(name: str, language: str, library: str, paths: list, root: str,
                    checkout: str | None = None) -> Interface:
    """The unit's interface from its compile list `paths` (resolved, the unit's own file last).

    `checkout`, the unit's repository, is searched for the include files and
    VHDL units the compile list leaves out, as a build's search paths would find them.
    """
    if paths[-1].lower().endswith(VHDL_SUFFIXES):
        vhdl = [p for p in paths if p.lower().endswith(VHDL_SUFFIXES)]
        return _vhdl_interface(name, vhdl, library, language, checkout)
    sources = [p for p in paths if not p.lower().endswith(HEADER_SUFFIXES + VHDL_SUFFIXES)]
    try:
        return _sv_interface(name, sources, include_dirs(paths, root), checkout, root)
    except ImportError:
        return Interface("pyslang", problem="pyslang is not installed, so Verilog ports are not parsed")
