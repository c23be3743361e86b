#pragma once
// What the scanners find in one HDL source file: its design-unit blocks and
// the names each block needs. Names are resolved against the whole tree later
// (dependency_resolver.cpp), so a scanner never looks at other files.

#include <string>
#include <string_view>
#include <vector>

namespace quarrix::resolver {

// A VHDL use clause "use library.package...", both names lower-cased.
struct UseClause {
  std::string library;
  std::string package;
  bool operator==(const UseClause&) const = default;
};

struct DesignBlock {
  // Declared name; for a secondary unit (architecture, package body) the name
  // of the primary unit it belongs to.
  std::string name;
  // Declaration keyword: "module", "macromodule", "interface", "program",
  // "package", "class", "primitive"; "entity", "package", "configuration",
  // "context", "architecture", "package body".
  std::string_view kind;
  bool primary = true;
  // Names of units this block instantiates, imports or extends. Candidates:
  // names that match no unit of the tree are dropped when resolving. VHDL
  // names are lower-cased.
  std::vector<std::string> refs;
  std::vector<UseClause> uses;  // VHDL only
};

struct SourceUnits {
  std::vector<DesignBlock> blocks;
  // References outside every design unit (a compilation-unit import, a VHDL
  // context clause with no unit after it); they count for each unit of the file.
  DesignBlock file_scope;
  // Verilog only: the names of the file's `include directives, as written
  // between the quotes (or angle brackets), in source order, each once.
  std::vector<std::string> includes;
};

// Both scanners take decoded text with "\n" newlines, run in time linear in
// its length, and never recurse on the nesting of the input.
SourceUnits scan_verilog(std::string_view text);
// The `include names of a Verilog text alone, as scan_verilog finds them.
std::vector<std::string> verilog_includes(std::string_view text);
SourceUnits scan_vhdl(std::string_view text);

}  // namespace quarrix::resolver
