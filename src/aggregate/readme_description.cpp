#include <quarrix/aggregate/readme_description.hpp>

#include <vector>

#include <quarrix/repo/readme.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>
#include <quarrix/util/text_hygiene.hpp>

namespace quarrix::aggregate {

namespace {

// Lines that are not prose: headings, underlines and rules, badges and images,
// code fences, licence lines, pointers, short link lines, HTML markup with no
// words of its own ("<p align=\"center\">", "</a>") and contact lines.
bool is_skipped_line(std::string_view line) {
  static const util::Regex underline_re("^[=\\-]{3,}$");
  static const util::Regex legal_re("^(?:copyright|license|spdx)", util::kIgnoreCase);
  static const util::Regex pointer_re("^(?:For more information|http|See |Visit |GitHub )", util::kIgnoreCase);
  static const util::Regex tag_re("<[^>]*>");
  static const util::Regex letter_or_digit_re("[^\\W_]");
  static const util::Regex contact_re("^(?:maintainers?|authors?|contact) *:", util::kIgnoreCase);
  return util::starts_with(line, "#") || underline_re.match(line) || util::starts_with(line, "[![") ||
         util::starts_with(line, "![") || util::starts_with(line, "```") || util::starts_with(line, "~~~") ||
         legal_re.match(line) || pointer_re.match(line) ||
         (util::contains(line, "https://") && util::split_whitespace(line).size() < 6) ||
         !letter_or_digit_re.search(tag_re.sub("", line)) || contact_re.match(line);
}

}  // namespace

std::optional<std::string> extract_readme_description(const std::string& repo_path) {
  const std::optional<std::string> text = repo::readme_text(repo_path);
  if (!text) return std::nullopt;

  std::vector<std::string> prose_lines;
  for (const std::string& raw : util::splitlines(*text)) {
    const std::string_view line = util::strip(raw);
    if (line.empty()) {
      if (!prose_lines.empty()) break;  // the first paragraph is complete
      continue;
    }
    if (!is_skipped_line(line)) prose_lines.emplace_back(line);
  }
  if (prose_lines.empty()) return std::nullopt;

  const std::string joined = util::join(prose_lines, " ");
  return util::apply_length_cap(util::strip_markdown_escapes(util::strip_dangling_tail(joined)));
}

}  // namespace quarrix::aggregate
