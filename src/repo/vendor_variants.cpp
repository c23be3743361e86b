#include <quarrix/repo/vendor_variants.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::repo {

const char* const kTechDirPattern = "(?:^|/)TECH/([a-z][a-z0-9_-]*)/";

const std::vector<std::pair<std::string, std::string>>& vendor_tokens() {
  static const std::vector<std::pair<std::string, std::string>> tokens = {
      {"xilinx", "xilinx"},         {"amd-xilinx", "xilinx"}, {"amd", "xilinx"},          {"altera", "intel"},
      {"intel", "intel"},           {"lattice", "lattice"},   {"microsemi", "microchip"}, {"microchip", "microchip"},
      {"actel", "microchip"},       {"gowin", "gowin"},       {"achronix", "achronix"},   {"efinix", "efinix"},
      {"quicklogic", "quicklogic"}, {"generic", "generic"},
  };
  return tokens;
}

const std::string* vendor_token_lookup(std::string_view word) {
  for (const auto& [key, vendor] : vendor_tokens())
    if (key == word) return &vendor;
  return nullptr;
}

namespace {

// Non-overlapping occurrences, as str.count counts them.
std::size_t count_occurrences(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + needle.size()))
    ++count;
  return count;
}

std::string_view before_last(std::string_view text, char sep) {
  const std::size_t pos = text.rfind(sep);
  return pos == std::string_view::npos ? std::string_view() : text.substr(0, pos);
}

std::string_view after_last(std::string_view text, char sep) {
  const std::size_t pos = text.rfind(sep);
  return pos == std::string_view::npos ? text : text.substr(pos + 1);
}

using Variants = std::map<std::string, std::vector<std::string>>;  // ordered: vendors ascending

// Files below TECH/<vendor>/, and files directly inside a TECH directory
// ("generic"); the files placed are added to `in_tech`.
void tech_directory_variants(const std::vector<std::string>& candidate_files, Variants& variants,
                             std::set<std::string>& in_tech) {
  static const util::Regex tech_dir_re(kTechDirPattern, util::kIgnoreCase);
  std::vector<std::string> tech_top_files;
  for (const std::string& rel : candidate_files) {
    const std::string norm = util::replace_all(rel, "\\", "/");
    if (const auto m = tech_dir_re.search(norm)) {
      if (const std::string* vendor = vendor_token_lookup(util::lower(m->group(1)))) {
        variants[*vendor].push_back(rel);
        in_tech.insert(rel);
      }
      continue;
    }
    if (count_occurrences(norm, "/TECH/") == 1) {
      const std::string_view inside = std::string_view(norm).substr(norm.find("/TECH/") + 6);
      if (inside.find('/') == std::string_view::npos) tech_top_files.push_back(rel);
    }
  }
  for (const std::string& rel : tech_top_files) {
    variants["generic"].push_back(rel);
    in_tech.insert(rel);
  }
}

// <base>_<vendor>.<ext>, grouped by (directory, base, extension) in order of
// first appearance; a group counts only with a sibling beside the vendor file.
void suffix_variants(const std::vector<std::string>& candidate_files, const std::set<std::string>& in_tech,
                     Variants& variants) {
  using GroupKey = std::tuple<std::string, std::string, std::string>;
  std::map<GroupKey, std::size_t> group_index;
  std::vector<std::vector<std::pair<std::string, const std::string*>>> groups;
  for (const std::string& rel : candidate_files) {
    if (in_tech.contains(rel)) continue;
    const std::string norm = util::replace_all(rel, "\\", "/");
    const std::string_view basename = after_last(norm, '/');
    const bool has_dot = basename.find('.') != std::string_view::npos;
    const std::string_view stem = has_dot ? before_last(basename, '.') : basename;
    const std::string_view ext = has_dot ? after_last(basename, '.') : std::string_view();
    std::string_view prefix = stem;
    const std::string* vendor = nullptr;
    if (stem.find('_') != std::string_view::npos) {
      prefix = before_last(stem, '_');
      vendor = vendor_token_lookup(util::lower(after_last(stem, '_')));
    }
    GroupKey key{std::string(before_last(norm, '/')), std::string(prefix), std::string(ext)};
    const auto [slot, fresh] = group_index.try_emplace(std::move(key), groups.size());
    if (fresh) groups.emplace_back();
    groups[slot->second].emplace_back(rel, vendor);
  }
  for (const auto& members : groups) {
    if (members.size() < 2) continue;
    for (const auto& [rel, vendor] : members)
      if (vendor) variants[*vendor].push_back(rel);
  }
}

}  // namespace

Json detect_vendor_variants(const std::string& /*repo_path*/, const std::vector<std::string>& candidate_files) {
  Variants variants;
  std::set<std::string> in_tech;
  tech_directory_variants(candidate_files, variants, in_tech);
  suffix_variants(candidate_files, in_tech, variants);
  Json result = Json::object();
  for (auto& [vendor, paths] : variants) {
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    result[vendor] = paths;
  }
  return result;
}

}  // namespace quarrix::repo
