#include "quarrix/llm/prompt.hpp"

#include "quarrix/util/json.hpp"

#include <vector>

#include "quarrix/util/text.hpp"
#include "quarrix/util/text_hygiene.hpp"

namespace quarrix::llm {

namespace {

// str(value): strings as they are, booleans as True/False, else JSON text.
std::string as_text(const Json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  return util::dumps_python(v);
}

// ", ".join(value): the items of a list, or the characters of a string.
std::string joined(const Json& v) {
  std::vector<std::string> items;
  if (v.is_string()) {
    for (char32_t cp : util::to_code_points(v.get_ref<const std::string&>())) {
      std::string one;
      util::append_utf8(one, cp);
      items.push_back(std::move(one));
    }
  } else if (v.is_array()) {
    for (const Json& item : v) items.push_back(as_text(item));
  } else {
    items.push_back(as_text(v));
  }
  return util::join(items, ", ");
}

std::string hints_section(const Json& hints) {
  if (!hints.is_object() || hints.empty()) return "";
  std::vector<std::string> lines;
  const auto present = [&hints](const char* key) { return hints.contains(key) && util::py_truthy(hints[key]); };
  if (present("protocols")) lines.push_back("- Detected protocols: " + joined(hints["protocols"]));
  if (present("interfaces")) lines.push_back("- Interface patterns: " + joined(hints["interfaces"]));
  if (present("role")) lines.push_back("- Entity role: " + as_text(hints["role"]));
  if (lines.empty()) return "";
  return "\nAnalysis hints (from port inspection):\n" + util::join(lines, "\n") +
         "\nUse these hints to write a more accurate description.\n";
}

}  // namespace

std::string build_llm_prompt(std::string_view name, std::string_view signature, std::string_view language,
                             const Json& hints) {
  std::string prompt = "You are an FPGA/HDL documentation expert. Given this ";
  prompt += language;
  prompt +=
      " module declaration, write a single concise description (one sentence, under 120 characters, no quotes). "
      "Focus on what the module DOES, not how it's implemented.\n\nModule: ";
  prompt += name;
  prompt += "\n\n```";
  prompt += language;
  prompt += "\n";
  prompt += signature;
  prompt += "\n```\n";
  prompt += hints_section(hints);
  prompt += "\nDescription:";
  return prompt;
}

std::optional<std::string> clean_llm_response(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::vector<std::string> kept;
  for (const std::string& line : util::splitlines(util::strip(text)))
    if (!util::starts_with(util::strip(line), "#")) kept.emplace_back(util::strip(line));
  std::string out(util::strip(util::join(kept, " ")));
  // One layer of matching quotes. Quote characters are ASCII, so two bytes
  // here are two distinct characters.
  if (out.size() >= 2 && out.front() == out.back() && (out.front() == '"' || out.front() == '\'' || out.front() == '`'))
    out = std::string(util::strip(std::string_view(out).substr(1, out.size() - 2)));
  out = util::apply_length_cap(out);
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace quarrix::llm
