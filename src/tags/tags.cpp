#include "quarrix/tags/tags.hpp"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "quarrix/hdl/abbreviations.hpp"
#include "quarrix/util/env.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::tags {

const std::vector<std::string>& tag_stopwords() {
  static const std::vector<std::string> words = {
      "the",     "and",    "for",     "with", "from",         "this", "that",  "are",    "is",     "in",   "of",
      "to",      "an",     "or",      "be",   "it",           "at",   "by",    "on",     "as",     "no",   "do",
      "if",      "so",     "up",      "all",  "out",          "std",  "logic", "vector", "signal", "port", "generic",
      "entity",  "module", "begin",   "end",  "architecture", "one",  "two",   "top",    "sub",    "unit", "stage",
      "wrapper", "file",   "disp",    "regs", "cell",         "base", "main",  "lib",    "test",   "tb",   "sim",
      "impl",    "inst",   "version", "ver",  "old",          "new"};
  return words;
}

bool is_tag_stopword(std::string_view word) {
  static const std::unordered_set<std::string_view> index(tag_stopwords().begin(), tag_stopwords().end());
  return index.contains(word);
}

long long resolve_tag_cap() {
  const auto raw = util::getenv_str("QUARRIX_TAG_CAP");
  if (!raw || raw->empty()) return kTagCapDefault;
  return util::parse_int(*raw).value_or(kTagCapDefault);
}

std::vector<std::string> cap_tags(std::vector<std::string> tags, long long cap) {
  if (static_cast<long long>(tags.size()) <= cap) {
    std::sort(tags.begin(), tags.end());
    return tags;
  }
  // Most specific (longest) first; ties alphabetical. Lengths in code points.
  std::vector<std::pair<std::size_t, std::string>> keyed;
  keyed.reserve(tags.size());
  for (auto& tag : tags) keyed.emplace_back(util::length(tag), std::move(tag));
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
  // Python's ranked[:cap]: a negative cap drops that many from the end.
  const auto n = static_cast<long long>(keyed.size());
  const long long keep = cap >= 0 ? std::min(cap, n) : std::max(0LL, n + cap);
  std::vector<std::string> kept;
  for (long long i = 0; i < keep; ++i) kept.push_back(std::move(keyed[static_cast<std::size_t>(i)].second));
  std::sort(kept.begin(), kept.end());
  return kept;
}

std::vector<std::string> generate_tags(std::string_view entity_name, const std::vector<std::string>& vendor_deps,
                                       long long cap) {
  std::set<std::string> tags;
  const std::string name_lower = util::lower(entity_name);
  for (const auto& part : util::split(name_lower, "_")) {
    if (util::length(part) <= 1) continue;
    tags.insert(part);
    if (const std::string* expansion = hdl::abbreviation_lookup(part))
      for (const auto& word : util::split_whitespace(*expansion))
        if (util::length(word) > 2) tags.insert(word);
  }
  for (const auto& dep : vendor_deps) {
    tags.insert(dep);
    if (dep == "unisim") {
      tags.insert({"xilinx", "fpga"});
    } else if (dep == "xpm") {
      tags.insert({"xilinx", "fpga", "xpm"});
    }
  }
  std::vector<std::string> kept;
  for (const auto& tag : tags)
    if (!is_tag_stopword(tag) && tag != name_lower) kept.push_back(tag);
  return cap_tags(std::move(kept), cap);
}

}  // namespace quarrix::tags
