#include <algorithm>
#include <optional>
#include <vector>

#include "quarrix/license/license.hpp"
#include "quarrix/repo/readme.hpp"
#include "quarrix/util/directory.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "sources.hpp"

namespace quarrix::license::detail {

namespace {

// The names of the regular files in `dir`, in code-point order.
std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  if (const auto listing = util::list_directory(dir))
    for (const util::DirectoryEntry& entry : *listing)
      if (util::is_regular_file(util::join_path(dir, entry.name))) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

bool is_known_identifier(std::string_view id) { return classify_license(id) != "unknown"; }

// The licence of one file: its text, else (REUSE names each file after its
// licence: LICENSES/CERN-OHL-S-2.0.txt) its name without the suffix.
std::string license_of_file(const std::string& dir, const std::string& name) {
  if (const auto text = util::read_text(util::join_path(dir, name)))
    if (std::string id = license_of_text(*text); !id.empty()) return id;
  const std::string stem = name.substr(0, name.rfind('.'));
  return is_known_identifier(stem) ? stem : "";
}

// LICENSE-MIT and LICENSE-APACHE: a choice between licences.
std::string suffixed_license_files(const std::string& repo_path) {
  std::vector<std::string> ids;
  for (const std::string& name : files_in(repo_path)) {
    // LICENSE.rst and the like too: a licence file by a name the licence
    // file's own rule does not know in any case.
    const std::string folded = util::ascii_lower(name);
    const bool known_name = std::any_of(license_file_names().begin(), license_file_names().end(),
                                        [&](const std::string& n) { return util::ascii_lower(n) == folded; });
    const bool suffixed = name.starts_with("LICENSE-") || name.starts_with("LICENCE-") ||
                          name.starts_with("COPYING-") || name.starts_with("LICENSE_") ||
                          (!known_name && (folded.starts_with("license.") || folded.starts_with("licence.") ||
                                           folded.starts_with("copying.")));
    if (!suffixed) continue;
    const std::string id = license_of_file(repo_path, name);
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return util::join(ids, " OR ");
}

// A LICENSES/ directory holds one licence per file; with several, each source
// names its own, so the repository as a whole has none (""). nullopt: no
// licence there.
std::optional<std::string> licenses_directory(const std::string& repo_path) {
  const std::string dir = util::join_path(repo_path, "LICENSES");
  if (!util::is_directory(dir)) return std::nullopt;
  std::optional<std::string> found;
  for (const std::string& name : files_in(dir)) {
    const std::string id = license_of_file(dir, name);
    if (id.empty()) continue;
    if (found && *found != id) return "";
    found = id;
  }
  return found;
}

// "SPDX-License-Identifier: X" anywhere in the README, cleaned as in sources.
std::string readme_spdx_line(std::string_view readme) {
  for (const std::string& line : util::splitlines(readme))
    if (std::string expr = spdx_expression_of_line(line); !expr.empty()) return expr;
  return "";
}

// The lines under a heading named License, Licence, Licensing or Copyright, up
// to the next heading (Markdown "## License"; reStructuredText "License" over
// a line of "=" or "-").
std::string licence_section(std::string_view readme) {
  static const util::Regex atx_re("^\\s{0,3}#{1,6}\\s*(.*?)\\s*#*\\s*$");
  static const util::Regex underline_re("^\\s*([=\\-~^*+#`'\"])\\1{2,}\\s*$");
  static const util::Regex name_re("^\\W*(?:licen[cs]es?|licensing|copyright)\\b", util::kIgnoreCase);
  const std::vector<std::string> lines = util::splitlines(readme);
  const auto heading_at = [&](std::size_t i) -> std::optional<std::string> {
    if (const auto m = atx_re.match(lines[i])) return std::string(m->group(1));
    if (i + 1 < lines.size() && !util::strip(lines[i]).empty() && underline_re.match(lines[i + 1]) &&
        !underline_re.match(lines[i]))
      return std::string(util::strip(lines[i]));
    return std::nullopt;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto heading = heading_at(i);
    if (!heading || !name_re.search(*heading)) continue;
    std::size_t start = i + 1;
    if (start < lines.size() && underline_re.match(lines[start])) ++start;
    std::vector<std::string> section;
    for (std::size_t j = start; j < lines.size() && !heading_at(j); ++j) section.push_back(lines[j]);
    return util::join(section, "\n");
  }
  return "";
}

}  // namespace

std::string license_beside_the_licence_file(const std::string& repo_path) {
  const std::optional<std::string> readme = repo::readme_text(repo_path);
  if (readme)
    if (std::string id = readme_spdx_line(*readme); !id.empty()) return id;
  if (std::string id = suffixed_license_files(repo_path); !id.empty()) return id;
  if (std::optional<std::string> id = licenses_directory(repo_path)) return *id;
  if (readme) return license_named_in(licence_section(*readme));
  return "";
}

}  // namespace quarrix::license::detail
