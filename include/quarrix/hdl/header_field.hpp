#pragma once
// The description a header template states in a field of its own:
//   // Module Name: ahb_bridge
//   // Function:    AXI4 -> AHB Bridge, with burst splitting
//   //              and an error response on decode misses.

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::hdl {

// The value of the first "Description:", "Function:", "Purpose:", "Brief:" or
// "Overview:" field of the comment lines before the first line of code, with
// the lines that continue it (up to a blank line or the next "Field:"), after
// the header tier's display hygiene; nullopt when the header has none.
std::optional<std::string> header_field_description(std::string_view text);
std::optional<std::string> extract_header_field_description(const std::string& entity_path);

}  // namespace quarrix::hdl
