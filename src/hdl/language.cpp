#include "quarrix/hdl/language.hpp"

#include <algorithm>

#include "quarrix/util/path.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::hdl {

namespace {

bool is_one_of(std::string_view suffix, std::span<const std::string_view> suffixes) {
  return std::find(suffixes.begin(), suffixes.end(), suffix) != suffixes.end();
}

}  // namespace

std::optional<HdlLanguage> language_of_suffix(std::string_view suffix) {
  if (is_verilog_suffix(suffix)) return HdlLanguage::verilog;
  if (is_vhdl_suffix(suffix)) return HdlLanguage::vhdl;
  return std::nullopt;
}

std::optional<HdlLanguage> language_of_path(std::string_view path) {
  return language_of_suffix(util::path_suffix_lower(path));
}

bool is_vhdl_suffix(std::string_view suffix) { return is_one_of(suffix, kVhdlSuffixes); }

bool is_verilog_suffix(std::string_view suffix) { return is_one_of(suffix, kVerilogSuffixes); }

bool is_systemverilog_suffix(std::string_view suffix) { return suffix == ".sv" || suffix == ".svh"; }

std::size_t hdl_suffix_index(std::string_view name) {
  for (std::size_t i = 0; i < kHdlSuffixes.size(); ++i)
    if (util::ends_with(name, kHdlSuffixes[i])) return i;
  return kHdlSuffixes.size();
}

}  // namespace quarrix::hdl
