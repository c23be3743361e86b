#pragma once
// The declaration of the first design unit in a source file, as shown to the
// language model: the first VHDL entity declaration, or the first Verilog
// module header (failing that, the first interface header).

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::hdl {

inline constexpr long long kSignatureMaxLines = 40;
// SystemVerilog port lists are longer; ".sv"/".svh" always get this limit.
inline constexpr long long kSvSignatureMaxLines = 80;

// The patterns, with the flags and operation each is used with ("KW" is
// "module", then "interface"). Located by linear scanners that find exactly
// what a search of the pattern finds (see module_signature.cpp).
inline constexpr std::string_view kVhdlEntityPattern =
    R"((entity\s+\w+\s+is\s+.*?end\s+(?:entity\s+)?\w+\s*;))";  // I|S, search
// "(" KW kVerilogHeaderTail, S, search
inline constexpr std::string_view kVerilogHeaderTail =
    R"(\s+\w+\s*(?:\s+import\s+[^;]+;\s*)*(?:#\s*\([^)]*(?:\([^)]*\)[^)]*)*\)\s*)?\([^;]*\)\s*;))";
// "(" KW kVerilogHeaderFallbackTail, S, search
inline constexpr std::string_view kVerilogHeaderFallbackTail = R"(\s+\w+\b[^;]*;))";

// The declaration of the first unit in `source_text`, cut to `max_lines` lines
// (a Python slice bound: a negative limit drops lines from the end), or nullopt.
std::optional<std::string> signature_from_text(std::string_view source_text, std::string_view suffix,
                                               long long max_lines = kSignatureMaxLines);

// The declaration in the file at `entity_path`, or nullopt when the file cannot
// be read or declares nothing recognisable.
std::optional<std::string> find_module_signature(const std::string& entity_path,
                                                 long long max_lines = kSignatureMaxLines);

// The same, "" when there is nothing.
std::string extract_module_signature(const std::string& entity_path, long long max_lines = kSignatureMaxLines);

}  // namespace quarrix::hdl
