#pragma once
// The HDL languages and the file suffixes that select them: the one place that
// spells ".v", ".sv", ".vh", ".svh", ".vhd" and ".vhdl".
//
// Suffixes are written with their dot and in lower case. The queries on a
// suffix compare it exactly as given: a caller that wants a case-insensitive
// test lower-cases it first (util::path_suffix_lower), as language_of_path does.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace quarrix::hdl {

// Verilog covers SystemVerilog and the header suffixes.
enum class HdlLanguage { verilog, vhdl };

// Every HDL suffix, in the order in which repository listings group files: the
// Verilog family first (sources ".v", ".sv", then headers ".vh", ".svh"), then
// VHDL.
inline constexpr std::array<std::string_view, 6> kHdlSuffixes = {".v", ".sv", ".vh", ".svh", ".vhd", ".vhdl"};
inline constexpr std::size_t kVerilogSuffixCount = 4;

// The Verilog family, headers included, and the VHDL suffixes: views into
// kHdlSuffixes, in its order.
inline constexpr std::span<const std::string_view> kVerilogSuffixes{kHdlSuffixes.data(), kVerilogSuffixCount};
inline constexpr std::span<const std::string_view> kVhdlSuffixes{kHdlSuffixes.data() + kVerilogSuffixCount,
                                                                 kHdlSuffixes.size() - kVerilogSuffixCount};

// ".v", ".sv", ".vh", ".svh" -> verilog; ".vhd", ".vhdl" -> vhdl; nullopt for
// anything else (compared exactly, so ".VHD" is nullopt).
std::optional<HdlLanguage> language_of_suffix(std::string_view suffix);
// The language of a path by its suffix compared lower-cased; nullopt when it
// has no HDL suffix.
std::optional<HdlLanguage> language_of_path(std::string_view path);

// ".vhd" or ".vhdl".
bool is_vhdl_suffix(std::string_view suffix);
// ".v", ".sv", ".vh" or ".svh".
bool is_verilog_suffix(std::string_view suffix);
// ".sv" or ".svh": the SystemVerilog source and header.
bool is_systemverilog_suffix(std::string_view suffix);

// The index into kHdlSuffixes of the first suffix that the file name `name`
// ends with (case-sensitive; a name that is only the suffix, such as ".v",
// counts), or kHdlSuffixes.size() when none.
std::size_t hdl_suffix_index(std::string_view name);

}  // namespace quarrix::hdl
