#include "quarrix/probes/test_infrastructure.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "hdl_tokens.hpp"
#include "quarrix/hdl/language.hpp"
#include "quarrix/util/directory.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxReadBytes = 4u << 20;
constexpr std::size_t kMaxEntries = 500000;  // a bound for pathological trees

// CI services by their configuration file (repository-relative).
constexpr std::array<const char*, 7> kCiServices = {"github-actions", "gitlab-ci", "travis",  "azure-pipelines",
                                                    "circleci",       "jenkins",   "appveyor"};

int ci_service(const std::string& rel) {
  if (util::starts_with(rel, ".github/workflows/") && rel.find('/', 18) == std::string::npos &&
      (util::ends_with(rel, ".yml") || util::ends_with(rel, ".yaml")))
    return 0;
  if (rel == ".gitlab-ci.yml") return 1;
  if (rel == ".travis.yml") return 2;
  if (rel == "azure-pipelines.yml" || rel == ".azure-pipelines.yml") return 3;
  if (rel == ".circleci/config.yml") return 4;
  if (rel == "Jenkinsfile") return 5;
  if (rel == "appveyor.yml" || rel == ".appveyor.yml") return 6;
  return -1;
}

struct Findings {
  bool cocotb = false, vunit = false, uvm = false, verilator_cpp = false, fusesoc = false;
  std::array<bool, kCiServices.size()> ci{};
};

bool has(std::string_view text, std::string_view needle) { return text.find(needle) != std::string_view::npos; }

// Whether `text` holds `lower_needle` in ASCII case-insensitively, without a
// lowered copy of the text.
bool has_folded(std::string_view text, std::string_view lower_needle) {
  // Only where the first letter stands, in either case, is the rest compared.
  const char lower = lower_needle[0], upper = static_cast<char>(std::toupper(static_cast<unsigned char>(lower)));
  for (std::size_t at = 0; at + lower_needle.size() <= text.size(); ++at)
    if ((text[at] == lower || text[at] == upper) &&
        util::ascii_iequals(text.substr(at, lower_needle.size()), lower_needle))
      return true;
  return false;
}

util::FileText read_small(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec || size > kMaxReadBytes) return {};
  return util::read_text(path);
}

void inspect_file(const fs::path& path, const std::string& rel, Findings& found) {
  if (const int ci = ci_service(rel); ci >= 0) {
    found.ci[static_cast<std::size_t>(ci)] = found.ci[static_cast<std::size_t>(ci)] || util::is_regular_file(path);
    return;
  }
  const std::string name = util::path_name(rel);
  const std::string suffix = util::path_suffix_lower(rel);
  const bool makefile = name == "Makefile" || name == "makefile" || name == "GNUmakefile" || suffix == ".mk";
  const bool wanted = (suffix == ".py" && !(found.cocotb && found.vunit)) || (makefile && !found.cocotb) ||
                      (hdl::is_vhdl_suffix(suffix) && !found.vunit) ||
                      (hdl::is_systemverilog_suffix(suffix) && !found.uvm) ||
                      ((suffix == ".cpp" || suffix == ".cc" || suffix == ".cxx") && !found.verilator_cpp) ||
                      (suffix == ".core" && !found.fusesoc);
  if (!wanted) return;
  const auto text = read_small(path);
  if (!text) return;
  if (suffix == ".py") {
    found.cocotb = found.cocotb || has(*text, "import cocotb") || has(*text, "from cocotb");
    found.vunit = found.vunit || has(*text, "import vunit") || has(*text, "from vunit");
  } else if (makefile) {
    found.cocotb = found.cocotb || has(*text, "cocotb-config");
  } else if (hdl::is_vhdl_suffix(suffix)) {
    found.vunit = has_folded(*text, "vunit_lib");
  } else if (hdl::is_systemverilog_suffix(suffix)) {
    found.uvm = has(*text, "uvm_pkg") || has(*text, "uvm_macros.svh");
  } else if (suffix == ".core") {
    for (const auto& line : util::splitlines(*text)) {
      if (util::strip(line).empty()) continue;
      found.fusesoc = util::starts_with(util::strip(line), "CAPI=");
      break;
    }
  } else {
    found.verilator_cpp = has(*text, "verilated.h");
  }
}

}  // namespace

Json detect_test_infrastructure(const std::string& repo_path) {
  Findings found;
  // util::list_directory knows each entry's kind from the directory itself.
  std::vector<std::string> pending{""};  // repository-relative directories
  std::size_t visited = 0;
  while (!pending.empty() && visited < kMaxEntries) {
    const std::string rel_dir = std::move(pending.back());
    pending.pop_back();
    const auto listing = util::list_directory(rel_dir.empty() ? repo_path : util::join_path(repo_path, rel_dir));
    for (auto entry = listing->begin(); entry != listing->end() && visited < kMaxEntries; ++entry) {
      ++visited;
      const std::string rel = rel_dir.empty() ? entry->name : rel_dir + "/" + entry->name;
      if (entry->kind == util::EntryKind::unknown) continue;
      if (entry->kind == util::EntryKind::directory) {
        if (entry->name != ".git") pending.push_back(rel);
      } else {
        inspect_file(util::join_path(repo_path, rel), rel, found);
      }
    }
  }

  Json ci = Json::array();
  for (std::size_t i = 0; i < kCiServices.size(); ++i)
    if (found.ci[i]) ci.push_back(kCiServices[i]);
  return Json{{"cocotb", found.cocotb},   {"vunit", found.vunit},
              {"uvm", found.uvm},         {"verilator_cpp", found.verilator_cpp},
              {"fusesoc", found.fusesoc}, {"ci", ci}};
}

}  // namespace quarrix::probes
