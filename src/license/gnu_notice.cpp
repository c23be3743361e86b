#include <array>
#include <functional>
#include <map>
#include <string>

#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "sources.hpp"

namespace quarrix::license::detail {

std::string gnu_notice_license(std::string_view flat) {
  static const util::Regex notice_re(
      "(?i)under the terms of the GNU (Affero |Lesser |Library )?General Public Licen[cs]e.{0,80}?version "
      "(2\\.1|2|3)");
  const auto m = notice_re.search(flat);
  if (!m) return "";
  const std::string kind = util::ascii_lower(m->group(1));
  const std::string_view family = kind.starts_with("affero") ? "AGPL" : kind.empty() ? "GPL" : "LGPL";
  const std::string_view version = m->group(2) == "2.1" ? "2.1" : m->group(2) == "2" ? "2.0" : "3.0";
  return std::string(family) + "-" + std::string(version) + "-only";
}

std::string with_later_versions(const std::string& id, std::string_view flat) {
  constexpr std::array<std::string_view, 3> kFamilies = {"GPL-", "LGPL-", "AGPL-"};
  if (!id.ends_with("-only")) return id;
  bool gnu = false;
  for (std::string_view family : kFamilies) gnu = gnu || id.starts_with(family);
  if (!gnu) return id;
  // "GPL-2.0-only" names version 2, "LGPL-2.1-only" version 2.1: one pattern
  // per version a GNU identifier can have, made once.
  static const std::map<std::string, util::Regex, std::less<>> later_by_version = [] {
    std::map<std::string, util::Regex, std::less<>> out;
    for (const std::string version : {"2.0", "2.1", "3.0"}) {
      const std::string named = version.ends_with(".0") ? version.substr(0, version.size() - 2) : version;
      out.emplace(version, util::Regex("(?i)version " + util::regex_escape(named) +
                                       "(?![.\\d]).{0,200}?or \\(at your option\\) any later version"));
    }
    return out;
  }();
  const std::string_view version = std::string_view(id).substr(id.find('-') + 1, id.size() - id.find('-') - 1 - 5);
  const auto later = later_by_version.find(version);
  if (later == later_by_version.end() || !later->second.search(flat)) return id;
  return id.substr(0, id.size() - 5) + "-or-later";
}

}  // namespace quarrix::license::detail
