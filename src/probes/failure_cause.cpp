#include "quarrix/probes/failure_cause.hpp"

#include <algorithm>
#include <vector>

#include "quarrix/probes/vendor_deps.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes {

namespace {

// One message of a tool: group 1 is the name it quotes, group 2 (when the
// pattern has one) the library that should hold it.
struct Rule {
  const char* kind;
  const char* pattern;
};

// Tried in order on each line of the output (joined with the next one, for
// GHDL quotes the source line after its message).
constexpr Rule kRules[] = {
    // The address-space limit: Verilator and GHDL die of it.
    {"memory", "std::bad_alloc|\\bout of memory\\b|Cannot allocate memory|memory exhausted"},
    // Verilator
    {"missing include", "Cannot find include file: ([^\\s]+)"},
    {"missing package", "Package/class '([^']+)' not found"},
    {"missing package", "Importing from missing package '([^']+)'"},
    {"missing unit", "Cannot find file containing (?:module|interface|program): '([^']+)'"},
    {"missing unit", "Specified --top-module '([^']+)' was not found"},
    // Verilator 5.048 (and 5.006 at times) names a missing module first as a
    // dotted reference of its instance (its defparam, its name), and a missing
    // package where it is first used.
    {"missing unit", "Dotted reference to instance that refers to missing module/interface: '([^']+)'"},
    {"missing package", "Package/class for '[^']*' not found: '([^']+)'"},
    {"missing package", "Import package not found: '([^']+)'"},
    {"tool limitation", "%Error-(?:UNSUPPORTED|NOTIMING)\\b|\\bUnsupported: "},
    // The tool itself broke: Verilator's own fault report, a compiler stage killed by SIGSEGV.
    {"tool limitation", "Verilator internal fault|^Segmentation fault"},
    // Icarus
    {"missing include", "Include file ([^\\s]+) not found"},
    {"missing unit", "Unknown module type: ([^\\s]+)"},
    {"missing unit", "Unable to find the root module \"([^\"]+)\""},
    // GHDL: a unit named in a use clause is a package
    {"missing package", "unit \"([^\"]+)\" not found in library \"([^\"]+)\"\\n\\s*use\\b"},
    {"missing unit", "unit \"([^\"]+)\" not found in library \"([^\"]+)\""},
    {"missing package", "cannot find resource library \"([^\"]+)\""},
    {"tool limitation", "use of synopsys package \"([^\"]+)\" needs the -fsynopsys option"},
    {"tool limitation", "\\bnot implemented\\b|GHDL Bug occurred"},
};

struct CompiledRule {
  const char* kind;
  util::Regex regex;
};

const std::vector<CompiledRule>& compiled_rules() {
  static const std::vector<CompiledRule> rules = [] {
    std::vector<CompiledRule> out;
    for (const Rule& rule : kRules) out.push_back({rule.kind, util::Regex(rule.pattern)});
    return out;
  }();
  return rules;
}

bool is_vendor_library(const std::string& library) {
  const auto& names = vendor_library_names();
  return std::find(names.begin(), names.end(), util::ascii_lower(library)) != names.end();
}

struct Finding {
  const char* kind;
  std::string name, library;
};

// Verilator quotes names as it stores them: a character that may not stand
// there, and the second of two underscores, as "__0" and two hex digits
// (`a__b` is quoted 'a___05Fb'). The repository's own spelling is wanted.
std::string verilator_demangled(std::string_view name) {
  static const util::Regex escape("__0([0-9A-F]{2})");
  return escape.sub(
      [](const util::Match& m) {
        return std::string(1, static_cast<char>(std::stoi(std::string(m.group(1)), nullptr, 16)));
      },
      name);
}

std::optional<Finding> finding_at(const std::vector<std::string>& lines, std::size_t i) {
  const std::string window = i + 1 < lines.size() ? lines[i] + "\n" + lines[i + 1] : lines[i];
  for (const CompiledRule& rule : compiled_rules())
    if (const auto m = rule.regex.search(window)) {
      // The rule must match on this line: the next is only its context.
      if (m->start(0) > lines[i].size()) continue;
      return Finding{rule.kind, verilator_demangled(m->group(1)), std::string(m->group(2))};
    }
  return std::nullopt;
}

bool is_vendor(const Finding& f) {
  if (!f.library.empty()) return is_vendor_library(f.library);
  return find_vendor_primitive(f.name, true) != nullptr || is_vendor_library(f.name);
}

}  // namespace

std::optional<FailureCause> failure_cause(std::string_view verdict, std::string_view err) {
  if (verdict == "skipped (budget)") return FailureCause{"budget", ""};
  if (verdict == "timed out") return FailureCause{"timeout", ""};
  if (verdict != "failed") return std::nullopt;
  const std::vector<std::string> lines = util::splitlines(err);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<Finding> first = finding_at(lines, i);
    if (!first) continue;
    const std::string kind = first->kind;
    if (kind != "missing unit" && kind != "missing package") return FailureCause{kind, first->name};
    if (!is_vendor(*first)) return FailureCause{kind, first->name};
    // A vendor cell first: the check fails for the vendor's sake alone only
    // when nothing else is missing.
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      const std::optional<Finding> other = finding_at(lines, j);
      if (other &&
          (std::string_view(other->kind) == "missing unit" || std::string_view(other->kind) == "missing package") &&
          !is_vendor(*other))
        return FailureCause{other->kind, other->name};
    }
    return FailureCause{"vendor primitive", first->library.empty() ? first->name : first->library};
  }
  return FailureCause{"syntax", ""};
}

}  // namespace quarrix::probes
