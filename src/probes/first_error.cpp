#include "first_error.hpp"

#include <algorithm>
#include <string_view>

#include "quarrix/resolver/include_search.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes::detail {

namespace {

bool inside_any(const std::string& path, const std::vector<std::string>& roots) {
  return std::any_of(roots.begin(), roots.end(),
                     [&](const std::string& root) { return util::lies_within(path, root); });
}

// A path as a tool writes it ("/repo/rtl/x.v:3:5:", "'../../secret.v'").
bool names_path_outside(std::string_view token, const std::vector<std::string>& roots) {
  token = token.substr(0, token.find(':'));
  if (token.find('/') == std::string_view::npos) return false;
  if (!util::is_absolute_path(token)) {
    for (const std::string& part : util::split(token, "/"))
      if (part == "..") return true;
    return false;
  }
  const std::optional<std::string> lexical = resolver::collapse_path(token);
  if (!lexical || !inside_any(*lexical, roots)) return true;
  const std::optional<std::string> real = util::resolved_path(*lexical);
  return real && !inside_any(*real, roots);
}

const util::Regex& token_re() {
  static const util::Regex re("[^\\s'\"`()\\[\\]{}<>,;]+");
  return re;
}

// `line` with the paths inside `root` written relative to it, as rows write
// them: the line reads the same whichever checkout the tool ran in.
std::string relative_paths(std::string_view line, const std::string& root) {
  const std::string prefix = root.ends_with('/') ? root : root + '/';
  std::string out;
  std::size_t from = 0;
  for (const util::Match& m : token_re().finditer(line)) {
    if (!m.group(0).starts_with(prefix) || m.group(0).size() == prefix.size()) continue;
    out.append(line.substr(from, m.start() - from));
    from = m.start() + prefix.size();
  }
  return out.append(line.substr(from));
}

std::string message_kind(std::string_view line) {
  static const util::Regex tagged_re("^%[A-Za-z][A-Za-z0-9_-]*");
  static const util::Regex word_re("\\b(error|warning)\\b", util::kIgnoreCase);
  if (const auto m = tagged_re.search(line)) return std::string(m->group(0));
  if (const auto m = word_re.search(line)) return util::lower(m->group(1));
  return "message";
}

}  // namespace

bool names_path_outside_of(std::string_view line, const std::vector<std::string>& roots) {
  for (const util::Match& m : token_re().finditer(line))
    if (names_path_outside(m.group(0), roots)) return true;
  return false;
}

std::string first_error_line(const std::string& err, const std::optional<std::vector<std::string>>& roots) {
  static const util::Regex error_re("error", util::kIgnoreCase);
  // Said beside an error: warnings and notes, and the indented source lines
  // and carets that GHDL and Verilator quote under a message. GHDL's errors
  // carry no "error" word, and a note may ("turn this error into a warning").
  static const util::Regex aside_re("^(?:\\s|%Warning)|:\\s*(?:warning|note)\\s*:", util::kIgnoreCase);
  // A message about a place in a source ("top.sv:3: ...") says more than a
  // summary ("errors preprocessing Verilog program.", "2 error(s) during
  // elaboration.").
  static const util::Regex located_re("(?:^|\\s)[^\\s:]+:\\d+:");
  // Of the lines not beside another, the first of the best rank: located,
  // saying "error", any; then the first line at all.
  std::string best, first;
  int best_rank = -1;
  for (const std::string& line : util::splitlines(err)) {
    const std::string_view text = util::strip(line);
    if (text.empty()) continue;
    if (first.empty()) first = text;
    if (aside_re.search(line)) continue;
    const int rank = located_re.search(text) ? 2 : error_re.search(text) ? 1 : 0;
    if (rank > best_rank) {
      best = text;
      best_rank = rank;
      if (rank == 2) break;
    }
  }
  std::string chosen = best_rank >= 0 ? std::move(best) : std::move(first);
  if (roots && names_path_outside_of(chosen, *roots)) return message_kind(chosen);
  if (roots && !roots->front().empty()) chosen = relative_paths(chosen, roots->front());
  return util::slice(chosen, 0, 300);
}

}  // namespace quarrix::probes::detail
