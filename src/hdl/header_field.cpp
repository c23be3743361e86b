#include "quarrix/hdl/header_field.hpp"

#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "quarrix/util/text_hygiene.hpp"
#include "text_scan.hpp"

namespace quarrix::hdl {

namespace {

// Comment marks and box decoration around a header line.
constexpr std::string_view kDecoration = "/*-!#=| \t";

bool starts_comment(std::string_view line) {
  return line.starts_with("//") || line.starts_with("--") || line.starts_with("/*") || line.starts_with("*");
}

}  // namespace

std::optional<std::string> header_field_description(std::string_view text) {
  // "Function: ...", and Doxygen's "@brief ..." with or without the colon.
  static const util::Regex field_re(
      R"(^(?:@(?:brief|description)\b\s*:?|(?:description|function|purpose|brief|overview)\s*:)\s*(.*)$)",
      util::kIgnoreCase);
  static const util::Regex other_field_re(R"(^@\w|^[A-Za-z][\w ./()-]{0,30}:(?:\s|$))");
  static const util::Regex letter_re(R"([^\W\d_])");
  std::string value;
  bool in_field = false, in_block = false;
  detail::for_each_line(text, [&](std::string_view raw) {
    const std::string_view line = util::strip(raw);
    if (!in_block && !line.empty() && !starts_comment(line)) return false;  // the first line of code
    if (line.starts_with("/*") && line.find("*/") == std::string_view::npos) in_block = true;
    if (in_block && line.find("*/") != std::string_view::npos) in_block = false;
    const std::string_view cleaned = util::strip(line, kDecoration);
    if (in_field) {
      if (cleaned.empty() || other_field_re.search(cleaned) || !letter_re.search(cleaned)) return false;
      value.append(" ").append(cleaned);
      return true;
    }
    if (const auto m = field_re.match(cleaned)) {
      value = util::strip(m->group(1));
      in_field = true;
    }
    return true;
  });
  if (!in_field || util::strip(value).empty()) return std::nullopt;
  return util::apply_length_cap(util::strip_markdown_escapes(util::strip_dangling_tail(util::strip(value))));
}

std::optional<std::string> extract_header_field_description(const std::string& entity_path) {
  static const util::FileMemoKey key;
  return *util::memo_per_file<std::optional<std::string>>(entity_path, key, [&]() -> std::optional<std::string> {
    const auto text = util::read_text(entity_path);
    return text ? header_field_description(*text) : std::nullopt;
  });
}

}  // namespace quarrix::hdl
