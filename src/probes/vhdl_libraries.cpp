#include "vhdl_libraries.hpp"

#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "hdl_tokens.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"

namespace quarrix::probes::detail {

namespace {

struct SourceNames {
  std::vector<std::string> declares;                         // primary units
  std::vector<std::string> completes;                        // units whose bodies or architectures it holds
  std::vector<std::pair<std::string, std::string>> selects;  // (library, unit) it names
};

bool is(const Token& token, std::string_view keyword) { return token.word && util::ascii_iequals(token.text, keyword); }

SourceNames names_of(std::string_view text) {
  SourceNames names;
  TokenStream stream(text, hdl::HdlLanguage::vhdl);
  Token w[4];  // the last four tokens, newest last
  int filled = 0;
  for (Token token; stream.next(token);) {
    if (filled == 4) {
      w[0] = w[1], w[1] = w[2], w[2] = w[3];
      w[3] = token;
    } else {
      w[filled++] = token;
    }
    if (filled < 3) continue;
    const Token* t = w + (filled - 3);  // the last three
    const bool primary = (is(t[0], "entity") || is(t[0], "package") || is(t[0], "context")) && is(t[2], "is") &&
                         t[1].word && !is(t[1], "body");
    if (primary || (is(t[0], "configuration") && t[1].word && is(t[2], "of")))
      names.declares.push_back(ascii_lower(t[1].text));
    if (filled == 4 && ((is(w[0], "package") && is(w[1], "body") && w[2].word && is(w[3], "is")) ||
                        (is(w[0], "architecture") && w[1].word && is(w[2], "of") && w[3].word)))
      names.completes.push_back(ascii_lower((is(w[1], "body") ? w[2] : w[3]).text));
    if (filled == 4 && (is(w[0], "use") || is(w[0], "entity") || is(w[0], "context") || is(w[0], "configuration")) &&
        w[1].word && w[2].text == "." && w[3].word)
      names.selects.emplace_back(ascii_lower(w[1].text), ascii_lower(w[3].text));
  }
  return names;
}

}  // namespace

std::vector<std::string> vhdl_libraries(const std::vector<std::string>& sources, const std::string& work_library) {
  // Every check of a scan whose list holds a file asks this of it: a file is
  // read and tokenized once per scan.
  static const util::FileMemoKey key;
  std::vector<std::shared_ptr<const SourceNames>> names;
  std::unordered_map<std::string, std::vector<std::size_t>> declared_in;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    names.push_back(util::memo_per_file<SourceNames>(sources[i], key, [&] {
      const util::FileText text = util::read_text(sources[i]);
      return text ? names_of(*text) : SourceNames{};
    }));
    for (const std::string& unit : names.back()->declares) declared_in[unit].push_back(i);
  }
  // `work.` names the library of the source that says it, which may be
  // known only once another source has named that one; a source of bodies
  // alone goes where their units went. Passes until nothing moves, each
  // placing at least one source.
  std::vector<std::string> library(sources.size());
  const auto library_of = [&](const std::string& unit) -> const std::string* {
    const auto it = declared_in.find(unit);
    if (it != declared_in.end())
      for (std::size_t j : it->second)
        if (!library[j].empty()) return &library[j];
    return nullptr;
  };
  for (bool moved = true; moved;) {
    moved = false;
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (library[i].empty() && names[i]->declares.empty())
        for (const std::string& unit : names[i]->completes)
          if (const std::string* lib = library_of(unit)) {
            library[i] = *lib;
            moved = true;
            break;
          }
      for (const auto& [named, unit] : names[i]->selects) {
        const std::string& by = named == "work" ? library[i] : named;
        if (by.empty() || by == "ieee" || by == "std") continue;
        const auto it = declared_in.find(unit);
        if (it == declared_in.end()) continue;
        for (std::size_t j : it->second) {
          if (!library[j].empty()) continue;
          library[j] = by;
          moved = true;
        }
      }
    }
  }
  for (std::string& lib : library)
    if (lib.empty()) lib = work_library;
  return library;
}

}  // namespace quarrix::probes::detail
