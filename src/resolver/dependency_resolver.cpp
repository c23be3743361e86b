#include <quarrix/resolver/dependency_resolver.hpp>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include <quarrix/hdl/language.hpp>
#include <quarrix/repo/vendor_variants.hpp>
#include <quarrix/resolver/design_units.hpp>
#include <quarrix/resolver/include_search.hpp>
#include <quarrix/resolver/repository_includes.hpp>
#include <quarrix/resolver/source_walk.hpp>
#include <quarrix/resolver/wildcard.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::resolver {

using hdl::HdlLanguage;

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

// The directory part of a path, or "" at the top.
std::string_view parent_dir(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// Whether a file's name (its suffix aside) or its directory's names a vendor
// (tc_clk_xilinx.sv, xilinx/ram.v): a variant a build takes for that vendor only.
bool names_vendor(std::string_view path) {
  static const util::Regex word_re("[A-Za-z0-9]+");
  const std::string name = util::path_name(path);
  const std::string where = util::path_name(parent_dir(path)) + "/" + name.substr(0, name.rfind('.'));
  for (const util::Match& m : word_re.finditer(where)) {
    const std::string* vendor = repo::vendor_token_lookup(util::ascii_lower(m.group(0)));
    if (vendor && *vendor != "generic") return true;
  }
  return false;
}

using util::ascii_lower;

// One scanned file with, per block, the unit it declares or belongs to.
struct ScannedFile {
  std::uint32_t file;
  HdlLanguage language;
  SourceUnits units;
  std::vector<std::uint32_t> block_unit;
};

// How the sources are found: the exclusion patterns, and whether .gitignore counts.
struct SourceWalk {
  const std::vector<WildcardPattern>& patterns;
  bool respect_gitignore;
};

// The files scanned so far, by identity and language. A file reached again
// through a link would only repeat declarations that the first path already
// made (the first declaration wins): it is scanned once.
struct SeenHash {
  std::size_t operator()(const std::pair<util::FileId, HdlLanguage>& k) const {
    return util::FileIdHash()(k.first) * 2 + static_cast<std::size_t>(k.second);
  }
};
using SeenFiles = std::unordered_set<std::pair<util::FileId, HdlLanguage>, SeenHash>;

constexpr std::string_view kBinaryReason = "not text (a NUL byte, or mostly bytes that are not UTF-8)";

// A NUL byte, or more than one byte in ten that is not UTF-8 (each run of them
// is one U+FFFD in `decoded`): a binary file named like a source.
bool looks_binary(std::string_view bytes, std::string_view decoded) {
  if (bytes.find('\0') != std::string_view::npos) return true;
  std::size_t replaced = 0;
  for (std::size_t at = 0; (at = decoded.find("\xEF\xBF\xBD", at)) != std::string_view::npos; at += 3) ++replaced;
  return replaced * 10 > bytes.size();
}

// The units of a source, or why it has none to give.
std::variant<SourceUnits, std::string> scan_file(const SourceFile& source) {
  const util::FileText bytes = util::read_bytes(source.path);
  if (!bytes) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(source.path, ec);
    return std::string(!ec && size > util::kMaxReadBytes ? "larger than 64 MiB" : "not readable");
  }
  // Sources are text with some bytes that are not UTF-8 (a Latin-1 "é" in a
  // comment of older code): read with those replaced, as the extractors read
  // them. Only what is not text at all gives no unit.
  const auto scan = [&source](std::string_view text) {
    return source.language == HdlLanguage::verilog ? scan_verilog(text) : scan_vhdl(text);
  };
  std::string text;  // when the bytes are not the text as they are
  if (!util::is_valid_utf8(*bytes)) {
    text = util::decode_utf8_replace(*bytes);
    if (looks_binary(*bytes, text)) return std::string(kBinaryReason);
    if (text.find('\r') != std::string::npos) text = util::normalize_newlines(text);
  } else if (bytes->find('\0') != std::string::npos) {
    return std::string(kBinaryReason);
  } else if (bytes->find('\r') == std::string::npos) {
    // Most sources: the cached bytes are scanned in place, not copied.
    return scan(*bytes);
  } else {
    text = util::normalize_newlines(*bytes);
  }
  return scan(text);
}

// What one compile-order walk knows of each unit and file. Slots are dense
// and stamped with the walk that wrote them; an unstamped slot reads as fresh,
// so a walk costs what it touches and nothing is cleared between walks.
class WalkMarks {
 public:
  enum : std::uint8_t { kNew, kOnPath, kDone };

  void begin(std::size_t units, std::size_t files) {
    if (unit_walk_.size() != units) unit_walk_.assign(units, 0), units_.resize(units);
    if (file_walk_.size() != files) file_walk_.assign(files, 0), files_.resize(files);
    if (++walk_ == 0) {  // the stamp wrapped: forget every slot once
      std::fill(unit_walk_.begin(), unit_walk_.end(), 0);
      std::fill(file_walk_.begin(), file_walk_.end(), 0);
      walk_ = 1;
    }
  }

  struct UnitMark {
    std::uint8_t state;
    std::size_t segment;  // path position where the segment that reached the unit starts
  };
  struct FileMark {
    bool emitted;
    bool including;              // on the include path being emitted (or the root's, reserved)
    std::uint32_t on_path;       // units of the file on the walk's path
    std::size_t sibling_cursor;  // next unit of the file to visit, shared by its units
  };

  UnitMark& unit(std::uint32_t u) {
    if (unit_walk_[u] != walk_) unit_walk_[u] = walk_, units_[u] = {kNew, 0};
    return units_[u];
  }
  FileMark& file(std::uint32_t f) {
    if (file_walk_[f] != walk_) file_walk_[f] = walk_, files_[f] = {false, false, 0, 0};
    return files_[f];
  }

 private:
  std::uint32_t walk_ = 0;
  std::vector<std::uint32_t> unit_walk_, file_walk_;
  std::vector<UnitMark> units_;
  std::vector<FileMark> files_;
};

}  // namespace

struct DependencyResolver::Index {
  struct Unit {
    std::string name;
    std::string_view kind;
    std::uint32_t file;
    HdlLanguage language;
    bool listed;                             // in entity_map
    std::uint32_t first;                     // for a later declaration of a name: the one entity_map lists
    std::vector<std::uint32_t> deps;         // units it needs, first-use order
    std::vector<std::uint32_t> extra_files;  // its architectures / bodies in other files
  };

  std::vector<std::string> files;
  // files: [0, own_files) the repository's sources, [own_files, scanned_files)
  // its dependencies', then headers that includes found.
  std::uint32_t own_files = 0;
  std::uint32_t scanned_files = 0;
  std::vector<Unit> units;
  std::vector<std::vector<std::uint32_t>> file_units;            // units declared in each file
  std::vector<std::vector<std::uint32_t>> includes;              // files each file `includes, in order
  std::unordered_map<std::string, std::uint32_t> by_name;        // exact spelling
  std::unordered_map<std::string, std::uint32_t> vhdl_by_name;   // lower-cased VHDL units
  std::unordered_map<std::string, std::uint32_t> folded;         // lower-cased, any language
  std::unordered_map<std::string, std::uint32_t> vhdl_packages;  // lower-cased
  // Where the declarations of a name declared more than once lie, each place
  // naming the first declaration there in walk order: its own file, its
  // directory, and every directory above it.
  struct Declarations {
    std::vector<std::uint32_t> later;  // the declarations after the first, in walk order
    std::unordered_map<std::uint32_t, std::uint32_t> in_file;
    std::unordered_map<std::string, std::uint32_t> in_dir, below;
  };
  std::unordered_map<std::uint32_t, Declarations> duplicates;  // by first declaration
  std::vector<std::pair<std::string, std::string>> unresolved;
  std::vector<std::pair<std::string, std::string>> left_out;  // (path, reason)
  // Files whose units need only each other, without cycles, and have no parts
  // elsewhere: the compile order of any of their units is the file alone.
  std::vector<bool> stands_alone;
  // Units whose compile order is plain (ListNode).
  std::vector<bool> plain;

  // Marks reused by compile-order walks; a walk running alongside another uses its own.
  std::mutex walk_mutex;
  WalkMarks walk_marks;
  class OrderWalk;

  void build(const std::vector<std::string>& roots, bool respect_gitignore,
             const std::vector<std::string>& exclude_dirs, const std::vector<std::string>& include_dirs,
             const std::string& repository, const std::vector<std::string>& dependency_roots);
  bool foreign(std::uint32_t file) const { return file >= own_files && file < scanned_files; }

 private:
  std::uint32_t add_unit(const DesignBlock& block, std::uint32_t file, HdlLanguage language);
  std::uint32_t owner_of(const DesignBlock& block, std::uint32_t declared) const;
  std::uint32_t find_ref(const std::string& ref, HdlLanguage language) const;
  std::vector<ScannedFile> scan_sources(const std::vector<std::string>& from, const SourceWalk& walk, bool own,
                                        SeenFiles& seen);
  std::vector<ScannedFile> packages_elsewhere(const std::vector<ScannedFile>& scanned, const std::string& repository,
                                              const SourceWalk& walk, SeenFiles& seen);
  std::vector<std::vector<std::string>> include_headers(std::vector<ScannedFile>& scanned,
                                                        const std::vector<std::string>& include_dirs,
                                                        const SourceWalk& walk, SeenFiles& seen);
  void link_scanned(std::vector<ScannedFile>& scanned);
  void dedupe_deps();
  void index_duplicates();
  std::uint32_t nearest(std::uint32_t first, std::uint32_t user_file) const;
  std::uint32_t sharing_names(const Declarations& places, std::uint32_t first, std::uint32_t chosen,
                              std::string_view dir, std::uint32_t user_file) const;
  void link(const DesignBlock& block, HdlLanguage language, std::uint32_t user_file,
            const std::vector<std::uint32_t>& owners, std::unordered_set<std::string>& unresolved_seen);
  void resolve_includes(std::vector<std::vector<std::string>> names, const std::vector<std::string>& roots,
                        const std::vector<std::string>& include_dirs, const std::string& repository);
  void mark_files_that_stand_alone();
  void mark_plain_units();
  void add_dep(std::uint32_t owner, std::uint32_t dep) {
    if (dep != kNone && dep != owner) units[owner].deps.push_back(dep);
  }
};

// A name declared again is a unit of its own, known only through the first
// declaration (nearest() picks among them); one of another kind is ignored.
std::uint32_t DependencyResolver::Index::add_unit(const DesignBlock& block, std::uint32_t file, HdlLanguage language) {
  std::string lower = ascii_lower(block.name);
  std::uint32_t first = kNone;
  if (const auto it = by_name.find(block.name); it != by_name.end()) {
    first = it->second;
  } else if (const auto vit = vhdl_by_name.find(lower); language == HdlLanguage::vhdl && vit != vhdl_by_name.end()) {
    first = vit->second;
  }
  const auto id = static_cast<std::uint32_t>(units.size());
  if (first != kNone) {
    // The repository's own declaration always wins over a dependency's
    // Verilog namesake: one design has one module of a name. A VHDL one lies
    // in the dependency's library, where the dependency's own uses find it.
    if (units[first].kind != block.kind ||
        (foreign(file) && !foreign(units[first].file) && language == HdlLanguage::verilog))
      return kNone;
    units.push_back({block.name, block.kind, file, language, false, first, {}, {}});
    duplicates[first].later.push_back(id);
    return id;
  }
  units.push_back({block.name, block.kind, file, language, block.kind != "context" && !foreign(file), kNone, {}, {}});
  by_name.emplace(block.name, id);
  if (language == HdlLanguage::vhdl) {
    vhdl_by_name.emplace(lower, id);
    if (block.kind == "package") vhdl_packages.emplace(lower, id);
  }
  folded.emplace(std::move(lower), id);
  return id;
}

// The unit a block's references count for: its own, or for an architecture
// or package body the primary unit it belongs to.
std::uint32_t DependencyResolver::Index::owner_of(const DesignBlock& block, std::uint32_t declared) const {
  if (block.primary) return declared;
  const std::string lower = ascii_lower(block.name);
  if (block.kind == "package body") {
    const auto it = vhdl_packages.find(lower);
    return it == vhdl_packages.end() ? kNone : it->second;
  }
  const auto it = vhdl_by_name.find(lower);
  return it != vhdl_by_name.end() && units[it->second].kind == "entity" ? it->second : kNone;
}

std::uint32_t DependencyResolver::Index::find_ref(const std::string& ref, HdlLanguage language) const {
  if (language == HdlLanguage::vhdl) {
    if (const auto it = vhdl_by_name.find(ref); it != vhdl_by_name.end()) return it->second;
    const auto it = folded.find(ref);
    return it == folded.end() ? kNone : it->second;
  }
  if (const auto it = by_name.find(ref); it != by_name.end()) return it->second;
  const auto it = vhdl_by_name.find(ascii_lower(ref));
  return it == vhdl_by_name.end() ? kNone : it->second;
}

void DependencyResolver::Index::index_duplicates() {
  for (auto& [first, places] : duplicates) {
    // Among equally near declarations a vendor's variant gives way to a
    // generic one (src/fpga/tc_clk_xilinx.sv to src/rtl/tc_clk.sv).
    const auto vendor = [&](std::uint32_t unit) { return names_vendor(files[units[unit].file]); };
    const auto add = [&](std::uint32_t unit) {
      const bool generic = !vendor(unit);
      const auto place = [&](auto& map, auto key) {
        const auto [it, fresh] = map.try_emplace(std::move(key), unit);
        if (fresh) return true;
        if (!generic || !vendor(it->second)) return false;
        it->second = unit;
        return true;
      };
      place(places.in_file, units[unit].file);
      std::string_view dir = parent_dir(files[units[unit].file]);
      place(places.in_dir, std::string(dir));
      for (;; dir = parent_dir(dir)) {
        // A directory already placed was placed with all of its ancestors.
        if (!place(places.below, std::string(dir)) || dir.empty()) break;
      }
    };
    add(first);
    for (std::uint32_t unit : places.later) add(unit);
  }
}

// Of the declarations of a name, the one nearest to a file that uses it: in
// the file itself, then in its directory, then below the closest ancestor;
// among equals a generic declaration before a vendor's variant, then the first
// in walk order. As many look-ups as the user is deep.
std::uint32_t DependencyResolver::Index::nearest(std::uint32_t first, std::uint32_t user_file) const {
  const auto it = duplicates.find(first);
  if (it == duplicates.end()) return first;
  const Declarations& places = it->second;
  if (const auto own = places.in_file.find(user_file); own != places.in_file.end()) return own->second;
  std::string dir(parent_dir(files[user_file]));
  if (const auto beside = places.in_dir.find(dir); beside != places.in_dir.end()) return beside->second;
  for (;;) {
    if (const auto above = places.below.find(dir); above != places.below.end())
      return sharing_names(places, first, above->second, dir, user_file);
    if (dir.empty()) return first;
    dir.resize(parent_dir(dir).size());
  }
}

// Of the declarations below `dir`, the one whose directories below it share
// the most names with the user's: demos/xc7/top.sv takes lib/clock/xc7/clk.sv
// over lib/clock/ice40/clk.sv, one variant per platform. `chosen` (the walk's
// choice) unless another shares more.
std::uint32_t DependencyResolver::Index::sharing_names(const Declarations& places, std::uint32_t first,
                                                       std::uint32_t chosen, std::string_view dir,
                                                       std::uint32_t user_file) const {
  constexpr std::size_t kMaxCompared = 64;  // a name declared more often keeps the walk's choice
  if (places.later.size() >= kMaxCompared) return chosen;
  const auto names_below = [&](std::uint32_t file) -> std::optional<std::vector<std::string>> {
    const std::string_view where = parent_dir(files[file]);
    if (!dir.empty() && !(where.starts_with(dir) && (where.size() == dir.size() || where[dir.size()] == '/')))
      return std::nullopt;  // not below `dir`
    return util::split(where.substr(std::min(where.size(), dir.size())), "/");
  };
  const std::optional<std::vector<std::string>> user = names_below(user_file);
  if (!user) return chosen;
  const auto shared = [&](std::uint32_t unit) {
    const std::optional<std::vector<std::string>> names = names_below(units[unit].file);
    if (!names) return -1;
    int count = 0;
    for (const std::string& name : *names)
      if (!name.empty() && std::find(user->begin(), user->end(), name) != user->end()) ++count;
    return count;
  };
  std::uint32_t best = chosen;
  int most = shared(chosen);
  const auto consider = [&](std::uint32_t unit) {
    if (const int count = shared(unit); count > most) best = unit, most = count;
  };
  consider(first);
  for (std::uint32_t unit : places.later) consider(unit);
  return best;
}

void DependencyResolver::Index::link(const DesignBlock& block, HdlLanguage language, std::uint32_t user_file,
                                     const std::vector<std::uint32_t>& owners,
                                     std::unordered_set<std::string>& unresolved_seen) {
  for (const std::string& ref : block.refs) {
    std::uint32_t dep = find_ref(ref, language);
    if (dep != kNone) dep = nearest(dep, user_file);
    for (std::uint32_t owner : owners) add_dep(owner, dep);
  }
  for (const UseClause& use : block.uses) {
    if (use.library == "ieee" || use.library == "std") continue;
    const auto it = vhdl_packages.find(use.package);
    if (it != vhdl_packages.end()) {
      const std::uint32_t dep = nearest(it->second, user_file);
      for (std::uint32_t owner : owners) add_dep(owner, dep);
    } else if (!foreign(user_file) && unresolved_seen.insert(use.library + "." + use.package).second) {
      unresolved.emplace_back(use.library, use.package);
    }
  }
}

void DependencyResolver::Index::build(const std::vector<std::string>& roots, bool respect_gitignore,
                                      const std::vector<std::string>& exclude_dirs,
                                      const std::vector<std::string>& include_dirs, const std::string& repository,
                                      const std::vector<std::string>& dependency_roots) {
  std::vector<WildcardPattern> patterns;
  patterns.reserve(exclude_dirs.size());
  for (const std::string& p : exclude_dirs) patterns.emplace_back(p);
  const SourceWalk walk{patterns, respect_gitignore};
  SeenFiles seen;
  std::vector<ScannedFile> scanned = scan_sources(roots, walk, true, seen);
  own_files = static_cast<std::uint32_t>(files.size());
  if (!repository.empty()) {
    std::vector<ScannedFile> beside = packages_elsewhere(scanned, repository, walk, seen);
    std::move(beside.begin(), beside.end(), std::back_inserter(scanned));
  }
  if (!dependency_roots.empty()) {
    std::vector<ScannedFile> theirs = scan_sources(dependency_roots, walk, false, seen);
    std::move(theirs.begin(), theirs.end(), std::back_inserter(scanned));
  }
  scanned_files = static_cast<std::uint32_t>(files.size());
  std::vector<std::vector<std::string>> include_names = include_headers(scanned, include_dirs, walk, seen);
  link_scanned(scanned);
  dedupe_deps();
  resolve_includes(std::move(include_names), roots, include_dirs, repository);
  file_units.assign(files.size(), {});
  for (std::uint32_t u = 0; u < units.size(); ++u) file_units[units[u].file].push_back(u);
  mark_files_that_stand_alone();
  mark_plain_units();
}

// The sources under `from`, each file scanned once whatever the links to it;
// what cannot be scanned is left out (and said, for the repository's own).
// A path counts once it has been read, so a link that may not be read does
// not hide the file's own path.
std::vector<ScannedFile> DependencyResolver::Index::scan_sources(const std::vector<std::string>& from,
                                                                 const SourceWalk& walk, bool own, SeenFiles& seen) {
  std::vector<ScannedFile> scanned;
  std::vector<LeftOut> excluded;
  for (const SourceFile& source : find_sources(from, walk.patterns, walk.respect_gitignore, &excluded)) {
    const std::optional<util::FileId> id = util::regular_file_id(source.path);
    if (!id) {
      if (own) left_out.emplace_back(source.path, "not a regular file");
      continue;
    }
    if (seen.contains({*id, source.language})) continue;
    std::variant<SourceUnits, std::string> found = scan_file(source);
    if (auto* why = std::get_if<std::string>(&found)) {
      if (own) left_out.emplace_back(source.path, std::move(*why));
      continue;
    }
    seen.emplace(*id, source.language);
    const auto file = static_cast<std::uint32_t>(files.size());
    files.push_back(source.path);
    scanned.push_back({file, source.language, std::move(std::get<SourceUnits>(found)), {}});
  }
  if (own)
    for (LeftOut& out : excluded) left_out.emplace_back(std::move(out.path), std::move(out.reason));
  return scanned;
}

// The files of the repository outside the roots that declare a VHDL package
// the roots' use clauses name and no file under them declares (a package in
// lib/ beside rtl/), and in turn those their own use clauses need. They join
// the tree as a dependency's files do: what uses them needs them, but they
// hold no unit of the tree, and the use clauses they answer are resolved
// inside the repository.
std::vector<ScannedFile> DependencyResolver::Index::packages_elsewhere(const std::vector<ScannedFile>& scanned,
                                                                       const std::string& repository,
                                                                       const SourceWalk& walk, SeenFiles& seen) {
  std::unordered_set<std::string> declared, wanted;
  const auto packages_of = [](const SourceUnits& units, const auto& visit) {
    for (const DesignBlock& block : units.blocks)
      if (block.primary && block.kind == "package") visit(ascii_lower(block.name));
  };
  const auto want_uses_of = [&](const SourceUnits& units) {
    const auto want = [&](const DesignBlock& block) {
      for (const UseClause& use : block.uses)
        if (use.library != "ieee" && use.library != "std" && !declared.count(use.package)) wanted.insert(use.package);
    };
    want(units.file_scope);
    for (const DesignBlock& block : units.blocks) want(block);
  };
  for (const ScannedFile& f : scanned)
    if (f.language == HdlLanguage::vhdl)
      packages_of(f.units, [&](std::string name) { declared.insert(std::move(name)); });
  for (const ScannedFile& f : scanned)
    if (f.language == HdlLanguage::vhdl) want_uses_of(f.units);
  std::vector<ScannedFile> out;
  if (wanted.empty()) return out;

  // Every VHDL file outside the roots, scanned once; a package's name leads
  // to the first of them, in path order, that declares it.
  struct Candidate {
    std::string path;
    util::FileId id;
    SourceUnits units;
  };
  std::vector<Candidate> candidates;
  std::unordered_map<std::string, std::size_t> declaring;
  for (const SourceFile& source : find_sources({repository}, walk.patterns, walk.respect_gitignore)) {
    if (source.language != HdlLanguage::vhdl) continue;
    const std::optional<util::FileId> id = util::regular_file_id(source.path);
    if (!id || seen.contains({*id, source.language})) continue;
    std::variant<SourceUnits, std::string> found = scan_file(source);
    auto* units = std::get_if<SourceUnits>(&found);
    if (!units) continue;
    packages_of(*units, [&](std::string name) { declaring.try_emplace(std::move(name), candidates.size()); });
    candidates.push_back({source.path, *id, std::move(*units)});
  }
  // The wanted packages as a work list, each batch sorted so that the files
  // join in the same order on every run: a file taken adds what it uses.
  std::vector<std::string> todo;
  const auto take_wanted = [&] {
    const std::size_t from = todo.size();
    todo.insert(todo.end(), wanted.begin(), wanted.end());
    std::sort(todo.begin() + static_cast<std::ptrdiff_t>(from), todo.end());
    wanted.clear();
  };
  take_wanted();
  while (!todo.empty()) {
    const std::string name = std::move(todo.back());
    todo.pop_back();
    const auto it = declaring.find(name);
    if (it == declaring.end()) continue;
    Candidate& c = candidates[it->second];
    if (!seen.emplace(c.id, HdlLanguage::vhdl).second) continue;
    packages_of(c.units, [&](std::string declared_name) { declared.insert(std::move(declared_name)); });
    want_uses_of(c.units);
    take_wanted();
    const auto file = static_cast<std::uint32_t>(files.size());
    files.push_back(c.path);
    out.push_back({file, HdlLanguage::vhdl, std::move(c.units), {}});
  }
  return out;
}

// The `include names of every scanned file, then of the headers of the
// include directories outside the roots, which join the files: found by
// includes, but their declarations are not units of the tree.
std::vector<std::vector<std::string>> DependencyResolver::Index::include_headers(
    std::vector<ScannedFile>& scanned, const std::vector<std::string>& include_dirs, const SourceWalk& walk,
    SeenFiles& seen) {
  std::vector<std::vector<std::string>> include_names;
  include_names.reserve(scanned.size());
  for (ScannedFile& f : scanned) include_names.push_back(std::move(f.units.includes));
  for (const SourceFile& source : find_sources(include_dirs, walk.patterns, walk.respect_gitignore)) {
    if (source.language != HdlLanguage::verilog) continue;
    const std::optional<util::FileId> id = util::regular_file_id(source.path);
    if (!id || seen.contains({*id, source.language})) continue;
    std::variant<SourceUnits, std::string> found = scan_file(source);
    if (!std::holds_alternative<SourceUnits>(found)) continue;
    seen.emplace(*id, source.language);
    files.push_back(source.path);
    include_names.push_back(std::move(std::get<SourceUnits>(found).includes));
  }
  return include_names;
}

// Declarations first, so that references may point forward to any file; then
// each file's references, each block's owned by its unit.
void DependencyResolver::Index::link_scanned(std::vector<ScannedFile>& scanned) {
  for (ScannedFile& f : scanned) {
    for (const DesignBlock& block : f.units.blocks) {
      f.block_unit.push_back(block.primary ? add_unit(block, f.file, f.language) : kNone);
    }
  }
  index_duplicates();

  // A package has one body: where several files hold one (vunit keeps one per
  // VHDL standard, -body-93.vhd beside -body-2002p.vhd), the one in the
  // package's own file, else the first in walk order, is its body; the
  // others are left out, for analysing them together always fails.
  std::vector<bool> has_body(units.size(), false);
  for (const ScannedFile& f : scanned)
    for (std::size_t b = 0; b < f.units.blocks.size(); ++b)
      if (const DesignBlock& block = f.units.blocks[b]; block.kind == "package body")
        if (const std::uint32_t owner = owner_of(block, f.block_unit[b]); owner != kNone && units[owner].file == f.file)
          has_body[owner] = true;

  std::unordered_set<std::string> unresolved_seen;
  std::vector<std::uint32_t> owners;
  for (const ScannedFile& f : scanned) {
    owners.clear();
    for (std::uint32_t u : f.block_unit) {
      if (u != kNone) owners.push_back(u);
    }
    link(f.units.file_scope, f.language, f.file, owners, unresolved_seen);
    // A secondary unit next to a later declaration of its name belongs to
    // that one, or to none when the declaration was ignored.
    std::unordered_map<std::string, std::uint32_t> later_here;
    for (std::size_t b = 0; b < f.units.blocks.size(); ++b) {
      const DesignBlock& block = f.units.blocks[b];
      const std::uint32_t u = f.block_unit[b];
      if (block.primary && (u == kNone || units[u].first != kNone)) later_here.emplace(ascii_lower(block.name), u);
    }
    for (std::size_t b = 0; b < f.units.blocks.size(); ++b) {
      const DesignBlock& block = f.units.blocks[b];
      const auto later = block.primary ? later_here.end() : later_here.find(ascii_lower(block.name));
      const std::uint32_t owner = later != later_here.end() ? later->second : owner_of(block, f.block_unit[b]);
      if (block.kind == "package body" && owner != kNone && units[owner].file != f.file) {
        if (has_body[owner]) continue;
        has_body[owner] = true;
      }
      owners.clear();
      if (owner != kNone) owners.push_back(owner);
      link(block, f.language, f.file, owners, unresolved_seen);
      if (owner != kNone && !block.primary && units[owner].file != f.file) {
        std::vector<std::uint32_t>& extra = units[owner].extra_files;
        if (std::find(extra.begin(), extra.end(), f.file) == extra.end()) extra.push_back(f.file);
      }
    }
  }
}

// Each dependency once, in first-use order.
void DependencyResolver::Index::dedupe_deps() {
  std::vector<std::uint32_t> stamp(units.size(), kNone);
  for (std::uint32_t u = 0; u < units.size(); ++u) {
    std::vector<std::uint32_t>& deps = units[u].deps;
    std::size_t kept = 0;
    for (std::uint32_t d : deps) {
      if (stamp[d] != u) {
        stamp[d] = u;
        deps[kept++] = d;
      }
    }
    deps.resize(kept);
  }
}

// The include directories given, then each root's own include/ directory, are
// searched before the rest of the tree. What the tree does not satisfy is
// looked for in the whole repository; a header found there joins the files
// (its own includes resolved in turn) without being a unit.
void DependencyResolver::Index::resolve_includes(std::vector<std::vector<std::string>> names,
                                                 const std::vector<std::string>& roots,
                                                 const std::vector<std::string>& include_dirs,
                                                 const std::string& repository) {
  std::vector<std::string> search_dirs = include_dirs;
  for (const std::string& root : roots) {
    std::string dir = util::join_path(root, "include");
    if (util::is_directory(dir)) search_dirs.push_back(std::move(dir));
  }
  const IncludeSearch search(files, std::move(search_dirs));
  std::optional<RepositoryIncludes> elsewhere;
  if (!repository.empty()) elsewhere.emplace(repository);
  std::unordered_map<std::string, std::uint32_t> added;  // header path -> file
  includes.assign(files.size(), {});
  for (std::uint32_t file = 0; file < names.size(); ++file) {
    for (const std::string& name : names[file]) {
      std::uint32_t header = kNone;
      if (const auto found = search.find(name, files[file])) {
        header = static_cast<std::uint32_t>(found->file);
      } else if (elsewhere) {
        const std::optional<std::string> path = elsewhere->find(name, files[file]);
        if (!path) continue;
        if (const auto it = added.find(*path); it != added.end()) {
          header = it->second;
        } else {
          // A file that is not text is no header, whatever its name.
          std::variant<SourceUnits, std::string> scanned = scan_file({*path, HdlLanguage::verilog});
          auto* units_of = std::get_if<SourceUnits>(&scanned);
          if (units_of) {
            header = static_cast<std::uint32_t>(files.size());
            files.push_back(*path);
            includes.emplace_back();
            names.push_back(std::move(units_of->includes));
          }
          added.emplace(*path, header);
        }
      }
      if (header == kNone || header == file) continue;
      std::vector<std::uint32_t>& out = includes[file];  // `includes` may have grown
      if (std::find(out.begin(), out.end(), header) == out.end()) out.push_back(header);
    }
  }
}

void DependencyResolver::Index::mark_files_that_stand_alone() {
  stands_alone.assign(files.size(), false);
  std::vector<std::uint32_t> pending_deps(units.size(), 0);  // dependencies not yet ordered
  std::vector<std::vector<std::uint32_t>> needed_by(units.size());
  for (std::uint32_t f = 0; f < files.size(); ++f) {
    const bool inside =
        includes[f].empty() && std::all_of(file_units[f].begin(), file_units[f].end(), [&](std::uint32_t u) {
          return units[u].extra_files.empty() && std::all_of(units[u].deps.begin(), units[u].deps.end(),
                                                             [&](std::uint32_t d) { return units[d].file == f; });
        });
    if (!inside) continue;
    for (std::uint32_t u : file_units[f])
      for (std::uint32_t d : units[u].deps) {
        ++pending_deps[u];
        needed_by[d].push_back(u);
      }
    // Acyclic when every unit can be ordered after its dependencies (Kahn).
    std::vector<std::uint32_t> ready;
    for (std::uint32_t u : file_units[f])
      if (pending_deps[u] == 0) ready.push_back(u);
    std::size_t ordered = 0;
    while (!ready.empty()) {
      const std::uint32_t u = ready.back();
      ready.pop_back();
      ++ordered;
      for (std::uint32_t user : needed_by[u])
        if (--pending_deps[user] == 0) ready.push_back(user);
    }
    stands_alone[f] = ordered == file_units[f].size();
  }
}

// Depth-first over the unit graph with an explicit stack; a unit is plain once
// all its dependencies are done and plain. A dependency still on the stack
// closes a cycle: the unit is not plain, nor (through it) anything on the cycle.
void DependencyResolver::Index::mark_plain_units() {
  plain.assign(units.size(), false);
  std::vector<std::uint8_t> state(units.size(), 0);  // 0 new, 1 on the stack, 2 done
  struct Frame {
    std::uint32_t unit;
    std::size_t next;
    bool plain;
  };
  std::vector<Frame> stack;
  for (std::uint32_t start = 0; start < units.size(); ++start) {
    if (state[start] != 0) continue;
    const auto alone = [&](std::uint32_t u) {
      const std::uint32_t f = units[u].file;
      return file_units[f].size() == 1 && includes[f].empty() && units[u].extra_files.empty();
    };
    stack.push_back({start, 0, alone(start)});
    state[start] = 1;
    while (!stack.empty()) {
      Frame& top = stack.back();
      const std::vector<std::uint32_t>& deps = units[top.unit].deps;
      if (top.next < deps.size()) {
        const std::uint32_t dep = deps[top.next++];
        if (state[dep] == 0) {
          state[dep] = 1;
          stack.push_back({dep, 0, alone(dep)});  // invalidates `top`
        } else if (state[dep] == 1 || !plain[dep]) {
          top.plain = false;
        }
        continue;
      }
      state[top.unit] = 2;
      plain[top.unit] = top.plain;
      const bool done_plain = top.plain;
      stack.pop_back();
      if (!stack.empty() && !done_plain) stack.back().plain = false;
    }
  }
}

DependencyResolver::DependencyResolver(std::vector<std::string> src_dirs, bool respect_gitignore,
                                       std::vector<std::string> exclude_dirs, std::vector<std::string> include_dirs,
                                       std::string repository, std::vector<std::string> dependency_roots)
    : index_(std::make_unique<Index>()) {
  index_->build(src_dirs, respect_gitignore, exclude_dirs, include_dirs, repository, dependency_roots);
}

DependencyResolver::~DependencyResolver() = default;
DependencyResolver::DependencyResolver(DependencyResolver&&) noexcept = default;
DependencyResolver& DependencyResolver::operator=(DependencyResolver&&) noexcept = default;

std::vector<std::pair<std::string, std::string>> DependencyResolver::entity_map() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Index::Unit& u : index_->units) {
    if (u.listed) out.emplace_back(u.name, index_->files[u.file]);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DependencyResolver::package_map() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Index::Unit& u : index_->units) {
    if (u.kind == "package" && u.first == kNone && !index_->foreign(u.file))
      out.emplace_back(u.name, index_->files[u.file]);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DependencyResolver::dependency_units() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Index::Unit& u : index_->units) {
    if (u.first == kNone && u.kind != "context" && index_->foreign(u.file))
      out.emplace_back(u.name, index_->files[u.file]);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DependencyResolver::left_out_sources() const {
  return index_->left_out;
}

std::vector<std::pair<std::string, std::string>> DependencyResolver::unresolved_use_clauses() const {
  return index_->unresolved;
}

// Depth-first post-order over the unit graph with an explicit stack, so that
// the depth of the design never reaches the C++ call stack. Tools analyse
// whole files, so a file is emitted only once the dependencies of every unit
// declared in it are: when a unit is done, the other units of its file are
// visited before the file goes out, and while a unit of the file is still on
// the path (it needed the one just done) the file waits for it. A cycle among
// files whose units do not form a cycle (a1 -> b -> a2, with a1 and a2 in one
// file) cannot be honoured: b goes out before the file of a1 and a2. Each
// visit of the rest of a file starts a new segment of the path: only a
// dependency back into the same segment closes a cycle of units. A file's
// included headers go out just before it.
const std::vector<std::string>& DependencyResolver::files() const { return index_->files; }

std::optional<std::uint32_t> DependencyResolver::unit_index(const std::string& name) const {
  const auto found = index_->by_name.find(name);
  if (found == index_->by_name.end() || !index_->units[found->second].listed) return std::nullopt;
  return found->second;
}

DependencyResolver::ListNode DependencyResolver::unit_node(std::uint32_t unit) const {
  const Index::Unit& u = index_->units.at(unit);
  return {u.file, u.deps, index_->plain[unit]};
}

std::size_t DependencyResolver::unit_count() const { return index_->units.size(); }

UseGraph DependencyResolver::use_graph() const {
  UseGraph graph;
  graph.uses.reserve(index_->units.size());
  for (std::uint32_t unit = 0; unit < index_->units.size(); ++unit) {
    const Index::Unit& u = index_->units[unit];
    graph.uses.push_back(u.deps);
    // A later declaration stands for its name: what uses it uses the row.
    if (u.first != kNone) graph.uses.back().push_back(u.first);
    if (u.listed) graph.node_of.emplace(u.name, unit);
  }
  return graph;
}

std::vector<std::string> DependencyResolver::compilation_order(const std::string& name) const {
  std::vector<std::string> order;
  for (std::uint32_t file : compilation_order_files(name)) order.push_back(index_->files[file]);
  return order;
}

// One compile-order walk from a root unit: its dependencies depth first, each
// file out once, after the files it needs and after the headers it includes.
// Runs on stacks of its own: dependencies and includes may nest as deep as a
// hostile tree likes.
class DependencyResolver::Index::OrderWalk {
 public:
  OrderWalk(const Index& ix, WalkMarks& marks) : ix_(ix), marks_(marks) {}
  std::vector<std::uint32_t> run(std::uint32_t root);

 private:
  struct Including {
    std::uint32_t file;
    std::size_t next;
  };
  struct Frame {
    std::uint32_t unit;
    std::size_t next;     // next dependency to visit
    std::size_t segment;  // path position where this frame's segment starts
  };

  void enter(std::uint32_t dep, std::size_t segment);
  void leave(std::uint32_t unit_id);
  [[noreturn]] void throw_cycle(std::uint32_t dep) const;
  bool emit(std::uint32_t file);
  void emit_with_headers(std::uint32_t file);

  const Index& ix_;
  WalkMarks& marks_;
  std::uint32_t root_file_ = 0;
  std::vector<std::uint32_t> order_;
  std::vector<Including> include_path_;
  std::vector<Frame> path_;
};

std::vector<std::uint32_t> DependencyResolver::Index::OrderWalk::run(std::uint32_t root) {
  root_file_ = ix_.units[root].file;
  marks_.file(root_file_).including = true;  // the root's own file goes last
  path_.push_back({root, 0, 0});
  marks_.unit(root).state = WalkMarks::kOnPath;
  ++marks_.file(root_file_).on_path;
  while (!path_.empty()) {
    Frame& top = path_.back();
    const std::vector<std::uint32_t>& deps = ix_.units[top.unit].deps;
    if (top.next < deps.size())
      enter(deps[top.next++], top.segment);
    else
      leave(top.unit);
  }
  for (std::uint32_t f : ix_.units[root].extra_files) emit(f);
  emit_with_headers(root_file_);
  return std::move(order_);
}

// Steps from the path's top to one of its dependencies.
void DependencyResolver::Index::OrderWalk::enter(std::uint32_t dep, std::size_t segment) {
  WalkMarks::UnitMark& mark = marks_.unit(dep);
  if (mark.state == WalkMarks::kOnPath && mark.segment != segment) return;  // files in a cycle
  if (mark.state == WalkMarks::kOnPath) throw_cycle(dep);
  if (mark.state == WalkMarks::kNew) {
    mark = {WalkMarks::kOnPath, segment};
    ++marks_.file(ix_.units[dep].file).on_path;
    path_.push_back({dep, 0, segment});
  }
}

// The unit's own dependencies are out; now those of the rest of its file, then
// the file itself.
void DependencyResolver::Index::OrderWalk::leave(std::uint32_t unit_id) {
  const Index::Unit& unit = ix_.units[unit_id];
  WalkMarks::FileMark& file = marks_.file(unit.file);
  if (WalkMarks::UnitMark& self = marks_.unit(unit_id); self.state == WalkMarks::kOnPath) {
    self.state = WalkMarks::kDone;
    --file.on_path;
  }
  const std::vector<std::uint32_t>& siblings = ix_.file_units[unit.file];
  while (file.sibling_cursor < siblings.size() && marks_.unit(siblings[file.sibling_cursor]).state != WalkMarks::kNew)
    ++file.sibling_cursor;
  if (file.sibling_cursor < siblings.size()) {
    const std::uint32_t sibling = siblings[file.sibling_cursor];
    marks_.unit(sibling) = {WalkMarks::kOnPath, path_.size()};
    ++file.on_path;
    path_.push_back({sibling, 0, path_.size()});  // this frame is revisited afterwards
    return;
  }
  // A unit of the file further up the path (which needed this one) may still
  // need other files: the file waits for it. The file's other parts follow it
  // once; every later unit of the file finds them out.
  if (unit.file != root_file_ && file.on_path == 0 && emit(unit.file))
    for (std::uint32_t u : siblings)
      for (std::uint32_t f : ix_.units[u].extra_files) emit(f);
  path_.pop_back();
}

void DependencyResolver::Index::OrderWalk::throw_cycle(std::uint32_t dep) const {
  std::string cycle;
  std::size_t k = path_.size();
  while (path_[k - 1].unit != dep) --k;
  for (; k <= path_.size(); ++k) cycle += ix_.units[path_[k - 1].unit].name + " -> ";
  throw resolver::DependencyCycleError("dependency cycle: " + cycle + ix_.units[dep].name);
}

// Emits `file` unless it is out already; true when it went out now.
bool DependencyResolver::Index::OrderWalk::emit(std::uint32_t file) {
  const WalkMarks::FileMark& mark = marks_.file(file);
  if (mark.emitted || mark.including) return false;
  emit_with_headers(file);
  return true;
}

// Emits `file` after the headers it includes, theirs first, each once; an
// include cycle is cut where it closes.
void DependencyResolver::Index::OrderWalk::emit_with_headers(std::uint32_t file) {
  marks_.file(file).including = true;
  include_path_.push_back({file, 0});
  while (!include_path_.empty()) {
    Including& top = include_path_.back();
    const std::vector<std::uint32_t>& headers = ix_.includes[top.file];
    if (top.next < headers.size()) {
      const std::uint32_t next = headers[top.next++];
      WalkMarks::FileMark& header = marks_.file(next);
      if (!header.emitted && !header.including) {
        header.including = true;
        include_path_.push_back({next, 0});  // invalidates `top`
      }
      continue;
    }
    WalkMarks::FileMark& done = marks_.file(top.file);
    done.including = false;
    done.emitted = true;
    order_.push_back(top.file);
    include_path_.pop_back();
  }
}

std::vector<std::uint32_t> DependencyResolver::compilation_order_files(const std::string& name) const {
  Index& ix = *index_;
  const auto found = ix.by_name.find(name);
  if (found == ix.by_name.end() || !ix.units[found->second].listed) throw resolver::UnknownUnitError(name);
  const std::uint32_t root = found->second;
  // The walk would visit every unit of the file and emit nothing else: for a
  // library of many cells in one file that is a walk per cell.
  if (ix.stands_alone[ix.units[root].file]) return {ix.units[root].file};

  std::unique_lock<std::mutex> lock(ix.walk_mutex, std::try_to_lock);
  std::optional<WalkMarks> own_marks;
  WalkMarks& marks = lock.owns_lock() ? ix.walk_marks : own_marks.emplace();
  marks.begin(ix.units.size(), ix.files.size());
  return Index::OrderWalk(ix, marks).run(root);
}

}  // namespace quarrix::resolver
