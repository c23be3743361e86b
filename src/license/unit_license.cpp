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

// The first lines of a source, where its header states who owns it.
std::vector<std::string> head_of(const std::string& source_path) {
  std::vector<std::string> lines;
  const auto text = util::read_text_file(source_path);
  if (!text) return lines;
  std::size_t start = 0;
  while (lines.size() < kHeadLines && start <= text->size()) {
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
             "confidential and proprietary",
             "proprietary and confidential",
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

bool has_proprietary_notice(const std::vector<std::string>& head) {
  static const util::Regex comment_re("^\\s*(?://+|--+|/\\*+|\\*+/?|#+|!)?");
  std::vector<std::string> words;
  for (const std::string& line : head) {
    const std::string bare = comment_re.sub("", line, 1);
    for (std::string& word : util::split_whitespace(bare)) words.push_back(std::move(word));
  }
  const std::string flat = util::join(words, " ");
  for (const util::Regex& notice : proprietary_notices())
    if (notice.search(flat)) return true;
  return false;
}

std::string own_license(const std::string& source_path) {
  const std::vector<std::string> head = head_of(source_path);
  if (has_proprietary_notice(head)) return kProprietary;
  for (const std::string& line : head)
    if (std::string expr = detail::spdx_expression_of_line(line); !expr.empty()) return expr;
  return "";
}

}  // namespace

namespace detail {

std::string spdx_expression_of_line(std::string_view line) {
  constexpr std::string_view kTag = "SPDX-License-Identifier:";
  constexpr std::size_t kMaxChars = 120;
  const std::size_t at = line.find(kTag);
  if (at == std::string_view::npos) return "";
  std::string_view expr = util::strip(line.substr(at + kTag.size()));
  for (std::string_view closing : {"*/", "-->"})
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
