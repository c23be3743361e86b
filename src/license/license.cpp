#include "quarrix/license/license.hpp"

#include <algorithm>
#include <optional>

#include "quarrix/util/directory.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "sources.hpp"

namespace quarrix::license {

const std::vector<std::string>& license_file_names() {
  static const std::vector<std::string> names = {"LICENSE",    "LICENSE.md", "LICENSE.txt", "LICENCE",
                                                 "LICENCE.md", "COPYING",    "COPYING.md"};
  return names;
}

const std::vector<std::pair<std::string, std::string>>& spdx_patterns() {
  static const std::vector<std::pair<std::string, std::string>> table = {
      {"MIT License", "MIT"},
      {"Permission is hereby granted, free of charge", "MIT"},
      // Tried before Apache: the SolderPad licence says it is based on the
      // Apache License Version 2.0.
      {"SolderPad Hardware Licen[cs]e.*(?:[Vv]|[Vv]ersion\\s*)0\\.51", "SHL-0.51"},
      {"SolderPad Hardware Licen[cs]e", "SHL-2.1"},
      {"Apache License.*2\\.0", "Apache-2.0"},
      {"BSD 2-Clause", "BSD-2-Clause"},
      {"BSD 3-Clause", "BSD-3-Clause"},
      {"GNU GENERAL PUBLIC LICENSE.*Version 3", "GPL-3.0-only"},
      {"GNU GENERAL PUBLIC LICENSE.*Version 2", "GPL-2.0-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE.*Version 3", "LGPL-3.0-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE.*Version 2\\.1", "LGPL-2.1-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE.*Version 2(?!\\.)", "LGPL-2.0-only"},
      {"CERN Open Hardware Licence.*Strongly", "CERN-OHL-S-2.0"},
      {"CERN Open Hardware Licence.*Weakly", "CERN-OHL-W-2.0"},
      {"CERN Open Hardware Licence.*Permissive", "CERN-OHL-P-2.0"},
      {"Mozilla Public License.*2\\.0", "MPL-2.0"},
      {"ISC License", "ISC"},
      {"The Unlicense", "Unlicense"},
      {"Creative Commons.*Attribution.*ShareAlike.*4\\.0", "CC-BY-SA-4.0"},
      {"Creative Commons.*Attribution.*4\\.0", "CC-BY-4.0"},
      {"PolyForm Shield", "PolyForm-Shield-1.0.0"},
      {"GNU AFFERO GENERAL PUBLIC LICENSE.*Version 3", "AGPL-3.0-only"},
      {"GNU LIBRARY GENERAL PUBLIC LICENSE.*Version 2", "LGPL-2.0-only"},
      {"GNU Library General Public Licen[cs]e", "LGPL-2.0-only"},
      {"CC0 1\\.0 Universal", "CC0-1.0"},
      {"European Union Public Licen[cs]e.*1\\.2", "EUPL-1.2"},
      {"Boost Software License.*1\\.0", "BSL-1.0"},
      {"zlib License", "Zlib"},
  };
  return table;
}

const std::vector<std::string>& strong_copyleft() {
  static const std::vector<std::string> ids = {"GPL-2.0-only",     "GPL-2.0-or-later", "GPL-3.0-only",
                                               "GPL-3.0-or-later", "AGPL-3.0-only",    "AGPL-3.0-or-later",
                                               "CERN-OHL-S-2.0",   "CC-BY-SA-4.0",     "EUPL-1.2"};
  return ids;
}

const std::vector<std::string>& weak_copyleft() {
  static const std::vector<std::string> ids = {
      "LGPL-2.0-only",     "LGPL-2.0-or-later", "LGPL-2.1-only", "LGPL-2.1-or-later", "LGPL-3.0-only",
      "LGPL-3.0-or-later", "CERN-OHL-W-2.0",    "MPL-2.0",       "SHL-0.51",          "SHL-2.1"};
  return ids;
}

const std::vector<std::string>& permissive() {
  static const std::vector<std::string> ids = {"MIT",
                                               "Apache-2.0",
                                               "BSD-2-Clause",
                                               "BSD-3-Clause",
                                               "BSD-2-Clause-Views",
                                               "ISC",
                                               "Unlicense",
                                               "CC0-1.0",
                                               "CERN-OHL-P-2.0",
                                               "CC-BY-4.0",
                                               "0BSD",
                                               "Zlib",
                                               "PolyForm-Shield-1.0.0",
                                               "ADIBSD",
                                               "BSL-1.0"};
  return ids;
}

namespace {

// A licence pattern searched without backtracking through its ".*" gaps.
//
// "A.*B.*C" (no DOTALL) matches where a line holds A, then B, then the start
// of C. The regex engine tries every start of A and, from each, every end of
// each gap, which on one long line repeating A and B takes minutes. Here the
// pieces are searched in turn along each line, each from where the one before
// ended: the same answer, since every piece but the last matches a fixed
// number of characters on one line (its leftmost match is the one that ends
// first). The last piece may run on past the line through white space ("\s*"),
// so it is searched up to the end of the next line that holds anything else.
class GappedPattern {
 public:
  explicit GappedPattern(std::string_view pattern) {
    for (const auto& piece : util::split(pattern, ".*")) pieces_.emplace_back(piece, util::kIgnoreCase);
  }

  // Only the lines where the first piece occurs are tried: it is a plain
  // phrase that cannot cross a line break. One pass over its matches keeps a
  // long text linear.
  bool search(std::string_view text) const {
    if (pieces_.size() == 1) return pieces_[0].search(text).has_value();
    bool found = false;
    std::size_t tried = 0;  // the lines before this offset have been tried
    pieces_[0].for_each(text, [&](const util::Match& first) {
      if (first.start() < tried) return true;
      const std::size_t newline = text.rfind('\n', first.start());
      const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
      const std::size_t end = line_end(text, first.start());
      found = line_matches(text, start, end);
      tried = end + 1;
      return !found;
    });
    return found;
  }

 private:
  static std::size_t line_end(std::string_view text, std::size_t start) {
    const std::size_t newline = text.find('\n', start);
    return newline == std::string_view::npos ? text.size() : newline;
  }

  bool line_matches(std::string_view text, std::size_t start, std::size_t end) const {
    const std::string_view line = text.substr(start, end - start);
    std::size_t pos = 0;
    for (std::size_t i = 0; i + 1 < pieces_.size(); ++i) {
      const auto m = pieces_[i].search(line, pos);
      if (!m) return false;
      pos = m->end();
    }
    std::size_t reach = end;  // the end of the next line that is not blank
    while (reach < text.size()) {
      const std::size_t next = reach + 1;
      reach = line_end(text, next);
      if (!util::strip(text.substr(next, reach - next)).empty()) break;
    }
    const auto last = pieces_.back().search(text.substr(start, reach - start), pos);
    return last && last->start() <= line.size();
  }

  std::vector<util::Regex> pieces_;
};

const std::vector<GappedPattern>& compiled_patterns() {
  static const std::vector<GappedPattern> compiled = [] {
    std::vector<GappedPattern> out;
    for (const auto& [pattern, id] : spdx_patterns()) out.emplace_back(pattern);
    return out;
  }();
  return compiled;
}

bool member(const std::vector<std::string>& set, std::string_view id) {
  return std::find(set.begin(), set.end(), id) != set.end();
}

// Classifies each part of a compound expression and returns the first class
// of `preference` that occurs among them.
std::string classify_compound(std::string_view expr, std::string_view separator,
                              const std::vector<const char*>& preference) {
  std::vector<std::string> classes;
  for (const auto& part : util::split(expr, separator)) classes.push_back(classify_license(util::strip(part)));
  for (const char* cls : preference)
    if (std::find(classes.begin(), classes.end(), cls) != classes.end()) return cls;
  return "unknown";
}

}  // namespace

namespace {

// The text of the licence file: the first of the names that exists and can be
// read. When none of them exists, an entry of the root equal to one of them
// ignoring ASCII case ("License.txt", "Copying"), the names in their order and
// the variants of one name in code-point order.
std::optional<std::string> license_text(const std::string& repo_path) {
  bool any_exists = false;
  for (const auto& name : license_file_names()) {
    const std::string path = util::join_path(repo_path, name);
    if (!util::exists(path)) continue;
    any_exists = true;
    if (auto text = util::read_text_file(path)) return text;  // else a directory or unreadable: next name
  }
  if (any_exists) return std::nullopt;
  const auto listing = util::list_directory(repo_path);
  for (const auto& name : license_file_names()) {
    const std::string folded = util::ascii_lower(name);
    for (const util::DirectoryEntry& entry : *listing)
      if (util::ascii_lower(entry.name) == folded)
        if (auto text = util::read_text_file(util::join_path(repo_path, entry.name))) return text;
  }
  return std::nullopt;
}

// Standard licence bodies that come without a title line, told apart by their
// own sentences once white space is collapsed (they wrap anywhere).
std::string untitled_license(std::string_view flat_lower) {
  if (util::contains(flat_lower, "redistribution and use in source and binary forms")) {
    if (util::contains(flat_lower, "neither the name of") ||
        util::contains(flat_lower, "endorse or promote products derived"))
      return "BSD-3-Clause";
    if (util::contains(flat_lower, "the views and conclusions contained in the software")) return "BSD-2-Clause-Views";
    return "BSD-2-Clause";
  }
  if (util::contains(flat_lower, "permission to use, copy, modify, and/or distribute this software for any purpose") ||
      util::contains(flat_lower, "permission to use, copy, modify, and distribute this software for any purpose"))
    return "ISC";
  return "";
}

// The first five lines that hold anything, each stripped, joined by a space:
// where a licence text states its title and version, however it wraps them.
std::string title_block(std::string_view text) {
  std::vector<std::string> lines;
  for (const std::string& line : util::splitlines(text)) {
    const std::string_view stripped = util::strip(line);
    if (stripped.empty()) continue;
    lines.emplace_back(stripped);
    if (lines.size() == 5) break;
  }
  return util::join(lines, " ");
}

std::string first_table_match(std::string_view text) {
  const auto& patterns = spdx_patterns();
  const auto& compiled = compiled_patterns();
  for (std::size_t i = 0; i < patterns.size(); ++i)
    if (compiled[i].search(text)) return patterns[i].second;
  return "";
}

}  // namespace

std::string license_of_text(std::string_view text) {
  const std::string flat = util::join_words(text);
  const std::string title = title_block(text);
  if (std::string titled = first_table_match(title); !titled.empty()) {
    // A licence's own title decides as it stands (the GPL's appendix shows
    // how to allow later versions); a notice that opens the file ("... under
    // the terms of the GNU General Public License ...") is a notice all the same.
    return detail::gnu_notice_license(title).empty() ? titled : detail::with_later_versions(titled, flat);
  }
  std::string id = first_table_match(text);
  if (id.empty()) id = untitled_license(util::ascii_lower(flat));
  if (id.empty()) id = detail::gnu_notice_license(flat);
  return detail::with_later_versions(id, flat);
}

std::string detect_license(const std::string& repo_path) {
  if (const auto text = license_text(repo_path))
    if (std::string id = license_of_text(*text); !id.empty()) return id;
  return detail::license_beside_the_licence_file(repo_path);
}

std::string classify_license(std::string_view spdx_id) {
  if (spdx_id.empty()) return "unknown";
  if (util::contains(spdx_id, " OR "))
    return classify_compound(spdx_id, " OR ", {"permissive", "weak-copyleft", "strong-copyleft", "unknown"});
  if (util::contains(spdx_id, " AND "))
    return classify_compound(spdx_id, " AND ", {"strong-copyleft", "weak-copyleft", "permissive", "unknown"});
  if (member(strong_copyleft(), spdx_id)) return "strong-copyleft";
  if (member(weak_copyleft(), spdx_id)) return "weak-copyleft";
  if (member(permissive(), spdx_id)) return "permissive";
  return "unknown";
}

}  // namespace quarrix::license
