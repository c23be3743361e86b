#include <quarrix/validator/validator.hpp>

#include <vector>

#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::validator {
namespace {

using util::kIgnoreCase;
using util::kMultiline;

struct Rule {
  std::string_view defect;
  const char* pattern;  // searched anywhere in the text
  unsigned flags;
};

// Every defect that a pattern can see, first hit wins. The patterns aim at
// shapes that a one-sentence description never has, so that prose such as
// "ready/valid", "e.g.", "v2.1" or "widths <= 64 bits" passes.
constexpr Rule kRules[] = {
    {"empty", R"(^\W*$)", 0},
    // Copyright, licence and warranty text leaked from a file header.
    {"legal",
     R"(\bcopyright\b|\(c\)\s*(?:19|20)\d\d|©|\ball rights reserved\b|\bspdx-license-identifier\b)"
     R"(|\blicen[cs](?:e|es|ed|ing)\b|\bwarrant(?:y|ies|ed)\b|\bmerchantability\b|\bgeneral public\b)"
     R"(|\b[la]?gpl(?:v?\d)?\b|\bpermission is hereby granted\b|\bredistributions? (?:and use|of source)\b)"
     R"(|\bprovided\s+["']?as[ -]is\b|\bterms and conditions\b|\byou agree\b)"
     R"(|\bsource code form is subject to\b|\b(?:permission|disclaimer)\s*:)",
     kIgnoreCase},
    // Vendors' proprietary and patent notices on the files their tools generate.
    {"legal",
     R"(\bproprietary\b|\bconfidential\b|\bprotected under\b.{0,40}\bpatents?\b|\bmaskwork rights\b)"
     R"(|\b(?:is|remains?) the (?:sole |exclusive )?property of\b|\bintellectual property (?:laws?|rights)\b)"
     R"(|\byour use of\b.{0,60}\bdesign tools\b|\blicense agreement\b|\bexpressly prohibited\b)"
     R"(|\bmust be used solely for\b|\bmegafunction partnership program\b)",
     kIgnoreCase},
    // Fields of a header template ("Create Date: ... Module Name: ..."): at
    // the start, or two of them anywhere; and notes of who made the file.
    {"template",
     R"(^\W*(?:FIELD)\s*:|\b(?:FIELD)\s*:[\s\S]*\b(?:FIELD)\s*:)"
     R"(|\bfile (?:is|was) (?:automatically )?(?:created|generated|written)\b)"
     // A date or version field left at the end of a sentence ("... Created : 23-11-07").
     R"(|\b(?:created|date|version|revision)\s*:\s*v?\d[\d./-]*\s*$)",
     kIgnoreCase},
    // An author's e-mail address.
    {"contact", R"([\w.+-]+@[\w-]+(?:\.[\w-]+)*\.[a-z]{2,}\b)", kIgnoreCase},
    // Code fences and HDL declarations.
    {"code",
     R"(```|~~~|\bmodule\s+\w+\s*(?:#\s*)?[(;]|\bentity\s+\w+\s+is\b|\barchitecture\s+\w+\s+of\b)"
     R"(|\bend(?:module|package|interface|function|task|case|generate)\b|\bend\s+(?:entity|architecture|process|component|package)\b)"
     R"(|\b(?:library|use)\s+ieee\b|`(?:timescale|define|include|ifdef|ifndef)\b)"
     R"(|\b(?:port|generic)\s*\(\s*\w+\s*:|\b(?:port|generic)\s+map\s*\()"
     R"(|\b(?:input|output|inout)\s+(?:wire|reg|logic)\b|\balways\s*@|\balways_(?:ff|comb|latch)\b|\bassign\s+\w+\s*=)",
     kIgnoreCase},
    // Assignment and statement punctuation, and comment markers.
    {"code", R"(\w\]?\s*(?:<=|:=|=)\s*[^;\n]+;|;\s*$|\)\s*;|[{}]|^\s*(?://|/\*|--)|\*/)", kMultiline},
    // Boilerplate and placeholders.
    {"boilerplate",
     R"(\b(?:todo|tbd|fixme)\b|\bn/a\b|\blorem ipsum\b|\bauto-?generated\b|\bautomatically generated\b)"
     R"(|\bdo not (?:edit|modify)\b|\b(?:insert|add) (?:a )?description\b|\bdescription goes here\b)"
     // Banner rulers of a boxed header comment ("=====... --", "//// ... ////").
     R"(|={3,}|-{4,}|\*{3,}|#{4,}|/{4,})"
     // A project's notice instead of what the file holds, and what generator
     // tools and editors leave: wizard fields ("%ALTPLL%"), command lines with
     // their paths, editor settings.
     R"(|\bthis (?:file|code) is (?:a )?part of\b|\bmegafunction wizard\b|%\w+%|\bvim?:\s*\w+=)"
     R"(|(?:^|\s)/(?:[\w.+-]+/){2,}[\w.+-]+|\bgenerated (?:by|using|with|from)\b[^.]{0,40}\bversion\b)"
     R"(|\b(?:changes )?will (?:probably )?be (?:lost|overwritten)\b)"
     R"(|^\W*(?:none|null|nil|undefined|unknown|empty|dummy|untitled|description|no description(?: available| provided)?)\W*$)",
     kIgnoreCase},
    // Language-model chatter instead of a description.
    {"chatter",
     R"(^\W*(?:here(?:'s|’s| is| are)\b|(?:sure|certainly|of course|absolutely|okay)\s*[,!.:]))"
     R"(|\bas an ai\b|\bas a (?:large )?language model\b|\bi (?:cannot|can't|can’t|can not|am unable|don't|do not)\b)"
     R"(|\bi(?:'m|’m| am) (?:sorry|unable)\b|\bi apologi[sz]e\b|\bbased on the (?:provided|given)\b)"
     R"(|\bthe (?:provided|given) (?:code|signature|module|snippet)\b|\bhope this helps\b|\blet me know\b)",
     kIgnoreCase},
    // The "<namespace> IP: <name>" filler and a bare identifier, whatever the name.
    {"echo", R"(^\s*\S+\s+IP:\s*\S+\s*$|^\W*\w+_\w+\W*$)", 0},
};

// Words that add nothing to a name: "the uart_tx module", "openhwgroup IP: x".
constexpr std::string_view kFillerWords[] = {
    "the",    "a",         "an",       "this",  "is",     "of",        "for",           "module",
    "entity", "core",      "ip",       "block", "design", "component", "unit",          "top",
    "level",  "top-level", "toplevel", "rtl",   "hdl",    "verilog",   "systemverilog", "vhdl",
    "file",   "source",
};

// Punctuation around a word that does not change it.
constexpr std::string_view kWordEdges = ".,:;!?'\"`()[]<>*";

bool is_filler(std::string_view word) {
  for (std::string_view filler : kFillerWords)
    if (word == filler) return true;
  return false;
}

// True when the text says nothing but the name (and the namespace) with
// filler words, or only filler words.
bool echoes_name(std::string_view text, const std::optional<std::string>& name, const std::optional<std::string>& ns) {
  const std::string lname = name ? util::lower(util::strip(*name)) : std::string();
  const std::string lns = ns ? util::lower(util::strip(*ns)) : std::string();
  const std::string qualified = lns + "/" + lname;
  for (const std::string& token : util::split_whitespace(util::lower(text))) {
    std::string_view word = util::strip(token, kWordEdges);
    if (word.empty() || is_filler(word)) continue;
    if (!lname.empty() && (word == lname || word == qualified)) continue;
    if (!lns.empty() && word == lns) continue;
    return false;
  }
  return true;
}

// The field names of header templates, for "FIELD" in a rule's pattern.
constexpr std::string_view kTemplateFields =
    "file ?name|file|version|revision|date|created|create date|design name|module name|project name|engineer"
    "|company|target devices?|target|compliant|tool versions?|dependencies";

const std::vector<util::Regex>& compiled_rules() {
  static const std::vector<util::Regex> compiled = [] {
    std::vector<util::Regex> out;
    for (const Rule& rule : kRules)
      out.emplace_back(util::replace_all(rule.pattern, "FIELD", kTemplateFields), rule.flags);
    return out;
  }();
  return compiled;
}

}  // namespace

std::optional<std::string_view> suspect_reason(std::string_view text, const std::optional<std::string>& name,
                                               const std::optional<std::string>& ns) {
  const auto& compiled = compiled_rules();
  for (std::size_t i = 0; i < compiled.size(); ++i)
    if (compiled[i].search(text)) return kRules[i].defect;
  if (echoes_name(text, name, ns)) return "echo";
  return std::nullopt;
}

bool is_suspect(std::string_view text, const std::optional<std::string>& name, const std::optional<std::string>& ns) {
  return suspect_reason(text, name, ns).has_value();
}

}  // namespace quarrix::validator
