#pragma once
// Our own dependency resolver: scans the HDL sources below a set of roots once,
// at construction, and answers unit, package and compile-order queries from that index.
//
// Decisions:
// - Units: Verilog/SystemVerilog module, macromodule, interface, program,
//   package, class and primitive declarations at the top level of a file, and
//   VHDL entity, package and configuration declarations. A declaration nested
//   in another unit (a class in a package) belongs to that unit. All of them
//   are in entity_map; packages of both languages are also in package_map.
//   VHDL context declarations take part in compile orders but are in neither map.
// - Duplicate unit names: entity_map, package_map and compile orders by name
//   take the first declaration in walk order (roots in the order given,
//   directories depth first, entries in name order). A reference, though,
//   goes to the declaration nearest to the referring file: in that file, in
//   its directory, then below the closest common ancestor directory; among
//   equals one whose file or directory names no vendor (tc_clk.sv before
//   fpga/tc_clk_xilinx.sv), then the first in walk order; a declaration of the same name but
//   another kind is ignored, with the architectures next to it. The later
//   declarations are units of their own (unit_count, unit_node), and in
//   use_graph each uses the first one too, so that a use of any of them
//   counts for the name. VHDL names are case-insensitive (entity_map keeps
//   the declared spelling); a Verilog reference that names no Verilog unit
//   may name a VHDL one case-insensitively.
// - Included headers: a Verilog `include names a scanned file through
//   IncludeSearch (include_search.hpp): the including file's directory, then
//   the include directories given, then each root's own include/ directory,
//   then any scanned file whose path ends with the name; failing those, given
//   the repository, anywhere in it (repository_includes.hpp: such a header
//   joins the files, as a header of an include directory does). The headers
//   a file includes (and theirs) come just
//   before it in every compile order that holds it; an include cycle is cut
//   where it closes, and a name that finds no scanned file is left to the tools.
//   A header is also scanned like any source: its declarations are units with
//   the header's own path.
// - Packages outside the roots: given the repository, a VHDL package that the
//   roots' use clauses name and no file under the roots declares is looked for
//   in the rest of the repository (a package in lib/ beside rtl/), and so in
//   turn are the packages those files use; such a file joins the tree as a
//   dependency root's file does (in compile orders, in neither map), and the
//   use clauses it answers are resolved inside the repository.
// - Architectures and package bodies in another file than their unit add
//   their references to it; their file comes right after the unit's own file
//   in a dependant's order, and just before it in the unit's own order (whose
//   last file is always the declaring one).
// - respect_gitignore: when true, the .gitignore files of the roots, of the
//   directories below them and of their ancestors up to the enclosing git
//   work tree exclude what they match (negation and directory-only rules
//   included); the global and .git/info excludes are not read.
// - Exclusion patterns: see find_sources (source_walk.hpp).
// - A file that cannot be read, is special, or is not text (a NUL byte, or
//   more than one byte in ten not UTF-8) is skipped; other bytes that are not
//   UTF-8 are read as U+FFFD.
// - Compile orders respect whole files, since tools analyse whole files: a
//   file comes after the files that any unit declared in it needs (where the
//   files themselves form a cycle, as far as they can). A unit instantiating
//   itself (recursion through generate) is not an edge; any longer cycle of
//   units makes compilation_order throw DependencyCycleError.
// - unresolved_use_clauses: each distinct (library, package) pair, lower-cased,
//   in first-use order, of the VHDL use clauses whose package is declared in
//   no scanned file; the libraries ieee and std are the standard ones. The
//   library name of a use clause is not checked: a package of the tree
//   resolves it under any library name (work or the repository's own).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <quarrix/resolver/errors.hpp>
#include <quarrix/resolver/use_graph.hpp>

namespace quarrix::resolver {

class DependencyResolver {
 public:
  // `include_dirs`: where `include names are looked for after the including
  // file's directory (a repository's top-level include/ beside its source
  // roots); the headers found there are no units of the tree. `repository`:
  // the repository the roots lie in, where an include or a VHDL package that
  // the tree does not satisfy is then looked for (RepositoryIncludes, and
  // packages outside the roots above); "" for nowhere else.
  // `dependency_roots`: the source roots of the repositories it depends on,
  // scanned after `src_dirs`. Their units resolve the names the repository's
  // own do not declare (a name the repository declares is always its own)
  // and take part in compile orders, but are in neither map; their sources
  // are never left_out_sources and their use clauses never unresolved.
  explicit DependencyResolver(std::vector<std::string> src_dirs, bool respect_gitignore = false,
                              std::vector<std::string> exclude_dirs = {}, std::vector<std::string> include_dirs = {},
                              std::string repository = {}, std::vector<std::string> dependency_roots = {});
  ~DependencyResolver();
  DependencyResolver(DependencyResolver&&) noexcept;
  DependencyResolver& operator=(DependencyResolver&&) noexcept;

  std::vector<std::pair<std::string, std::string>> entity_map() const;
  std::vector<std::string> compilation_order(const std::string& name) const;
  // compilation_order as indices into files(); the same order and errors.
  std::vector<std::uint32_t> compilation_order_files(const std::string& name) const;
  // Every scanned file, the index of compile orders.
  const std::vector<std::string>& files() const;

  // The shared form of a compile order, for a scan that wants every unit's:
  // a unit whose list is plain has as compile order the orders of its
  // dependencies in turn, each file once, then its own file. Plain: every unit
  // it reaches (itself included) is alone in its file, has no part in another
  // file, includes no header and lies on no cycle.
  struct ListNode {
    std::uint32_t file;                   // the unit's own file
    std::span<const std::uint32_t> deps;  // units it needs, in first-use order (unit_node indices)
    bool plain;
  };
  // The node of a unit of entity_map, or nullopt for an unknown name.
  std::optional<std::uint32_t> unit_index(const std::string& name) const;
  ListNode unit_node(std::uint32_t unit) const;
  std::size_t unit_count() const;
  // Which unit uses which, over every unit (contexts and packages too).
  UseGraph use_graph() const;
  std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const;
  std::vector<std::pair<std::string, std::string>> package_map() const;
  // The units of the dependency roots (name, declaring file), as entity_map
  // lists the repository's, packages included.
  std::vector<std::pair<std::string, std::string>> dependency_units() const;
  // Sources left out by an exclusion pattern, and sources not read: "larger
  // than 64 MiB", "not a regular file", "not readable", "not text (...)".
  std::vector<std::pair<std::string, std::string>> left_out_sources() const;

 private:
  struct Index;
  std::unique_ptr<Index> index_;
};

}  // namespace quarrix::resolver
