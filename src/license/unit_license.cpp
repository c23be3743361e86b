#include <algorithm>
#include <array>
#include <string_view>

#include "quarrix/license/license.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "sources.hpp"

namespace quarrix::license {

namespace {

constexpr std::size_t kHeadLines = 64;
// A GNU notice may follow a long description of the unit.
constexpr std::size_t kNoticeLines = 128;

// The first lines of a source, where its header states who owns it.
std::vector<std::string> head_of(const std::string& source_path, std::size_t count) {
  std::vector<std::string> lines;
  const auto text = util::read_text(source_path);
  if (!text) return lines;
  std::size_t start = 0;
  while (lines.size() < count && start <= text->size()) {
    const std::size_t newline = text->find('\n', start);
    const std::size_t end = newline == std::string::npos ? text->size() : newline;
    lines.emplace_back(text->substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Phrases of the notices that vendors' tools write into the files they
// generate, found across their comment markers and line breaks.
const std::vector<util::Regex>& proprietary_notices() {
  static const std::vector<util::Regex> notices = [] {
    std::vector<util::Regex> out;
    for (const char* phrase : {
             "confidential,? and proprietary",
             "proprietary,? (?:and )?confidential",
             "is owned and controlled by [\\w&.,\\- ]{1,40}? and must be used solely",
             "megafunction partnership program",
             "protected under numerous u\\.s\\. and foreign patents",
             "your use of [\\w&.,\\- ]{1,40}? corporation'?s design tools",
             "the selling or duplication of any portion is strictly prohibited",
             "contains proprietary information of",
             "unpublished proprietary",
         })
      out.emplace_back(phrase, util::kIgnoreCase);
    return out;
  }();
  return notices;
}

// Lines without the comment marks around them ("//", "--", "/*", " * ", and
// the "////" or "--" that close a boxed comment), blank ones kept, each ended
// by a newline.
std::string comment_text(std::vector<std::string>::const_iterator begin, std::vector<std::string>::const_iterator end) {
  static const util::Regex opening_re("^\\s*(?://+|--+|/\\*+|\\*+/?|#+|!)?");
  static const util::Regex closing_re("\\s*(?://+|--+|\\*+/|\\*+|#+)\\s*$");
  // Either pattern can only change a line whose first (last) byte is a mark
  // or white space; most of a header's lines end in a word, many begin with one.
  const auto may_mark = [](char at) {
    const auto c = static_cast<unsigned char>(at);
    return c >= 0x80 || util::is_space(c) || std::string_view("/-*#!").find(at) != std::string_view::npos;
  };
  std::string text;
  for (auto line = begin; line != end; ++line) {
    std::string plain = !line->empty() && may_mark(line->front()) ? opening_re.sub("", *line, 1) : *line;
    if (!plain.empty() && may_mark(plain.back())) plain = closing_re.sub("", plain, 1);
    text += plain;
    text += '\n';
  }
  return text;
}

bool has_proprietary_notice(std::string_view flat) {
  for (const util::Regex& notice : proprietary_notices())
    if (notice.search(flat)) return true;
  return false;
}

// A vendor's copyright over a file that grants no licence: the vendor's
// simulation models and generated cores that repositories carry along. The
// vendor must be the holder ("Copyright (C) 1991-2020 Altera Corporation"), not
// merely named nearby.
bool has_vendor_copyright(std::string_view flat) {
  static const util::Regex vendor_re(
      "copyright\\s*(?:\\(c\\)|©)?\\s*(?:[\\d,/ -]+)?\\s*(?:by\\s+)?(?:Xilinx|Altera|Intel "
      "Corporation|Lattice Semiconductor|Microsemi|Microchip Technology|Actel|Gowin|Efinix|Achronix|QuickLogic|Cadence "
      "Design Systems|Synopsys|Mentor Graphics)\\b",
      util::kIgnoreCase);
  return vendor_re.search(flat).has_value();
}

std::string own_license(const std::string& source_path) {
  const std::vector<std::string> longer = head_of(source_path, kNoticeLines);
  const auto head_end = longer.begin() + static_cast<std::ptrdiff_t>(std::min(longer.size(), kHeadLines));
  const std::string comments = comment_text(longer.begin(), head_end);
  const std::string flat = util::join_words(comments);
  if (has_proprietary_notice(flat)) return kProprietary;
  for (auto line = longer.begin(); line != head_end; ++line)
    if (std::string expr = detail::spdx_expression_of_line(*line); !expr.empty()) return expr;
  // A licence notice or text of its own in the header ("... under the terms of
  // the GNU Lesser General Public License ... version 2.1 ... or (at your
  // option) any later version", the MIT text): more precise than the repository's.
  if (std::string id = license_of_text(comments); !id.empty()) return id;
  const std::string further = util::join_words(comments + comment_text(head_end, longer.end()));
  if (std::string id = detail::gnu_notice_license(further); !id.empty())
    return detail::with_later_versions(id, further);
  return has_vendor_copyright(flat) ? kProprietary : "";
}

}  // namespace

namespace detail {

std::string spdx_expression_of_line(std::string_view line) {
  constexpr std::string_view kTag = "SPDX-License-Identifier:";
  constexpr std::size_t kMaxChars = 120;
  const std::size_t at = line.find(kTag);
  if (at == std::string_view::npos) return "";
  std::string_view expr = util::strip(line.substr(at + kTag.size()));
  for (std::string_view closing : {"*/", "-->", "--"})
    if (util::ends_with(expr, closing)) {
      expr = util::strip(expr.substr(0, expr.size() - closing.size()));
      break;
    }
  return std::string(util::strip(util::slice(expr, 0, kMaxChars)));
}

}  // namespace detail

std::string unit_license(const std::string& source_path) {
  // Asked once per unit: a file of many units is read and searched once.
  static const util::FileMemoKey key;
  return *util::memo_per_file<std::string>(source_path, key, [&] { return own_license(source_path); });
}

}  // namespace quarrix::license
