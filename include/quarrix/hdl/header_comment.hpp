#pragma once
// The author's description in a source file's header comment: the comment
// prose before the design unit's keyword, without comment markers and
// boilerplate (licence, copyright, author, tool-generated lines).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarrix/util/regex.hpp"

namespace quarrix::hdl {

// A boilerplate line (searched in one cleaned line).
const util::Regex& skip_patterns();
// Prose about a repository or a licence rather than the IP (searched in the joined prose).
const util::Regex& repo_boilerplate();

// The patterns of the language extractors, with their flags and operation.
inline constexpr std::string_view kVhdlDescriptionSectionPattern =
    R"(--\s*Description\s*\n-*\n(.*?)(?:\n-{3,}|\nentity\b|\nlibrary\b))";                   // I|S, search
inline constexpr std::string_view kVhdlHeaderEndPattern = R"((?i)^(library|entity|use)\b)";  // match
inline constexpr std::string_view kVerilogModuleKeywordPattern = R"(^\s*module\b)";          // M, search
inline constexpr std::string_view kVerilogBlockCommentPattern = R"(/\*(.*?)\*/)";            // S, finditer

// Tier "header" of the description chain: the header prose of the file at
// `entity_path` (".vhd"/".vhdl" or ".v"/".sv"/".vh"/".svh", any case), or nullopt.
std::optional<std::string> extract_header_description(const std::string& entity_path);

// A "-- Description" section, else the "--" lines before library/entity/use.
std::optional<std::string> extract_vhdl_header(std::string_view text);

// The block comment nearest the first "module" line that holds prose; "//"
// lines only when the header has no block comment at all.
std::optional<std::string> extract_verilog_header(std::string_view text);

// Strips each line, drops leading characters of `prefix` (a character set),
// skips boilerplate lines before the prose and stops at one after it; returns
// the prose joined with spaces when it has at least five words and is not
// repository or licence boilerplate, after the shared display hygiene.
std::optional<std::string> clean_comment_lines(const std::vector<std::string>& lines, std::string_view prefix);

}  // namespace quarrix::hdl
