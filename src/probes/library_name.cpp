#include "quarrix/probes/library_name.hpp"

#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "hdl_tokens.hpp"
#include "quarrix/hdl/language.hpp"
#include "quarrix/repo/repo_tree.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes {

namespace {

using detail::ascii_lower;
using detail::Token;
using detail::TokenStream;
using hdl::HdlLanguage;

struct UseClause {
  std::string library;
  std::string package;
};

// Package declarations ("package <name> is", not "package body") and use
// clauses ("use <library>.<package>") of one file, lower-cased.
void scan_file(std::string_view text, std::unordered_set<std::string>& packages, std::vector<UseClause>& uses) {
  TokenStream stream(text, HdlLanguage::vhdl);
  Token window[4];  // the last four tokens, newest last
  int filled = 0;
  Token token;
  while (stream.next(token)) {
    if (filled < 4) {
      window[filled++] = token;
    } else {
      window[0] = window[1];
      window[1] = window[2];
      window[2] = window[3];
      window[3] = token;
    }
    if (filled < 3) continue;
    const Token* w = window + (filled - 3);  // the last three
    if (w[0].word && w[1].word && w[2].word && util::ascii_iequals(w[0].text, "package") &&
        util::ascii_iequals(w[2].text, "is")) {
      if (!util::ascii_iequals(w[1].text, "body")) packages.insert(ascii_lower(w[1].text));
    }
    if (filled == 4 && window[0].word && util::ascii_iequals(window[0].text, "use") && window[1].word &&
        window[2].text == "." && window[3].word)
      uses.push_back({ascii_lower(window[1].text), ascii_lower(window[3].text)});
  }
}

}  // namespace

std::string detect_library_name(const std::string& repo_path) {
  repo::RepoTree tree(repo_path, false);
  const repo::TreeListing& listing = tree.listing();
  std::unordered_set<std::string> packages;
  std::vector<UseClause> uses;
  for (std::size_t group = 0; group < hdl::kHdlSuffixes.size(); ++group) {
    if (!hdl::is_vhdl_suffix(hdl::kHdlSuffixes[group])) continue;
    for (const auto& rel : listing[group])
      if (const auto text = util::read_text(util::join_path(repo_path, rel))) scan_file(*text, packages, uses);
  }

  std::vector<std::pair<std::string, std::size_t>> counts;  // in first-seen order
  std::unordered_map<std::string_view, std::size_t> slot;   // library (a view into `uses`) -> its place
  for (const auto& use : uses) {
    if (use.library == "work" || use.library == "ieee" || use.library == "std" || !packages.contains(use.package))
      continue;
    if (const auto it = slot.find(use.library); it != slot.end()) {
      ++counts[it->second].second;
    } else {
      counts.emplace_back(use.library, 1);
      slot.emplace(use.library, counts.size() - 1);
    }
  }
  const std::pair<std::string, std::size_t>* best = nullptr;
  for (const auto& entry : counts)
    if (!best || entry.second > best->second) best = &entry;
  return best ? best->first : "work";
}

}  // namespace quarrix::probes
