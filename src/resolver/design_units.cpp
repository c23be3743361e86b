#include <quarrix/resolver/design_units.hpp>

#include <quarrix/util/path.hpp>

namespace quarrix::resolver {

std::optional<HdlLanguage> language_of_path(std::string_view path) {
  const std::string suffix = util::path_suffix_lower(path);
  if (suffix == ".v" || suffix == ".sv" || suffix == ".vh" || suffix == ".svh") return HdlLanguage::verilog;
  if (suffix == ".vhd" || suffix == ".vhdl") return HdlLanguage::vhdl;
  return std::nullopt;
}

}  // namespace quarrix::resolver
