#include <optional>
#include <utility>
#include <vector>

#include "quarrix/license/license.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "sources.hpp"

namespace quarrix::license::detail {

namespace {

// How READMEs write licences that the table's titles miss, each matched as a
// whole word and case-insensitively; the identifiers of the classes count as
// their own names, in their own case ("MIT", not the German "mit").
const std::vector<std::pair<std::string, std::string>>& short_names() {
  static const std::vector<std::pair<std::string, std::string>> names = {
      {"Apache 2\\.0", "Apache-2.0"},
      {"Apache v2(?:\\.0)?", "Apache-2.0"},
      {"Apache License,? v(?:ersion)? ?2(?:\\.0)?", "Apache-2.0"},
      {"CC[- ]BY[- ]SA[- ]4[._]0", "CC-BY-SA-4.0"},
      {"CC[- ]BY[- ]4[._]0", "CC-BY-4.0"},
      {"CC0", "CC0-1.0"},
      {"BSD[- ]3[- ]Clause", "BSD-3-Clause"},
      {"BSD[- ]2[- ]Clause", "BSD-2-Clause"},
      {"GPL ?v?3(?:\\.0)?\\+", "GPL-3.0-or-later"},
      {"GPL ?v?2(?:\\.0)?\\+", "GPL-2.0-or-later"},
      {"GPL ?v3|GPL-3\\.0", "GPL-3.0-only"},
      {"GPL ?v2|GPL-2\\.0", "GPL-2.0-only"},
      {"LGPL ?v3|LGPL-3\\.0", "LGPL-3.0-only"},
      {"LGPL ?v2\\.1|LGPL-2\\.1", "LGPL-2.1-only"},
      {"MPL ?(?:v|-)?2\\.0", "MPL-2.0"},
      {"CERN[- ]OHL[- ]S(?:[- ]v?2(?:\\.0)?)?", "CERN-OHL-S-2.0"},
      {"CERN[- ]OHL[- ]W(?:[- ]v?2(?:\\.0)?)?", "CERN-OHL-W-2.0"},
      {"CERN[- ]OHL[- ]P(?:[- ]v?2(?:\\.0)?)?", "CERN-OHL-P-2.0"},
      {"Solderpad(?: Hardware)? Licen[cs]e,? v(?:ersion)? ?2\\.1", "SHL-2.1"},
      {"Solderpad(?: Hardware)? Licen[cs]e,? v(?:ersion)? ?0\\.51", "SHL-0.51"},
  };
  return names;
}

struct Named {
  std::size_t at;
  std::size_t length;
  std::string id;
};

// Word boundaries that keep "MIT" out of "SUBMIT" and "GPL-2.0" out of "LGPL-2.0".
util::Regex as_word(const std::string& pattern, unsigned flags) {
  return util::Regex("(?<![\\w.+-])(?:" + pattern + ")(?![\\w+]|-\\w)", flags);
}

}  // namespace

std::string license_named_in(std::string_view section) {
  if (util::strip(section).empty()) return "";
  if (std::string id = license_of_text(section); !id.empty()) return id;
  static const std::vector<std::pair<util::Regex, std::string>> names = [] {
    std::vector<std::pair<util::Regex, std::string>> out;
    for (const auto* set : {&permissive(), &weak_copyleft(), &strong_copyleft()})
      for (const std::string& id : *set) out.emplace_back(as_word(util::regex_escape(id), util::kNoFlags), id);
    for (const auto& [pattern, id] : short_names()) out.emplace_back(as_word(pattern, util::kIgnoreCase), id);
    return out;
  }();
  // The name written first; of two at one place, the longer.
  std::optional<Named> first;
  for (const auto& [re, id] : names) {
    const auto m = re.search(section);
    if (!m) continue;
    const Named here{m->start(), m->end() - m->start(), id};
    if (!first || here.at < first->at || (here.at == first->at && here.length > first->length)) first = here;
  }
  return first ? first->id : "";
}

}  // namespace quarrix::license::detail
