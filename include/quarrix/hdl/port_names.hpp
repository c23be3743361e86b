#pragma once
// Raw port and generic/parameter names of an HDL source text.
//
// No HDL parsing: a fixed set of patterns chosen by the file's suffix (given
// with its dot and already lower-cased). Names come back lower-cased, in order
// of discovery, duplicates kept. Text inside comments counts like any other.

#include <string>
#include <string_view>
#include <vector>

namespace quarrix::hdl {

// The patterns, with the flags and operation each is used with. The block and
// header patterns are located by linear scanners that find exactly what a
// search of the pattern finds (see port_names.cpp).
inline constexpr std::string_view kVhdlPortBlockPattern = R"(port\s*\((.*)\)\s*;\s*\n\s*end\b)";  // I|S, search
inline constexpr std::string_view kVhdlPortPattern = R"((\w+)\s*:\s*(in|out|inout))";             // I, finditer
inline constexpr std::string_view kVerilogPortPattern =
    R"((?:input|output|inout)\s+(?:wire|reg|logic)?\s*(?:\[.*?\])?\s*(\w+))";  // I, finditer
inline constexpr std::string_view kSvModuleHeaderPattern =
    R"(module\s+\w+\s*(?:#\s*\(.*?\)\s*)?\((.*?)\)\s*;)";                                            // S, search
inline constexpr std::string_view kSvInterfacePortPattern = R"((\w+)\.\w+\s+(\w+))";                 // finditer
inline constexpr std::string_view kVhdlGenericBlockPattern = R"(generic\s*\((.*?)\)\s*;)";           // I|S, search
inline constexpr std::string_view kVhdlGenericPattern = R"((\w+)\s*:)";                              // I, finditer
inline constexpr std::string_view kVerilogParameterPattern = R"(parameter\s+(?:\w+\s+)?(\w+)\s*=)";  // I, finditer

// Port names: VHDL port clause for ".vhd"/".vhdl"; Verilog port declarations
// otherwise, plus the interface ports of the first module header for ".sv"/".svh".
std::vector<std::string> extract_port_names(std::string_view source_text, std::string_view suffix);

// VHDL generic names for ".vhd"/".vhdl"; Verilog parameter names otherwise.
std::vector<std::string> extract_generic_names(std::string_view source_text, std::string_view suffix);

}  // namespace quarrix::hdl
