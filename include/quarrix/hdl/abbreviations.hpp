#pragma once
// The abbreviation vocabulary of HDL names (lower-case key -> expansion phrase).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrix::hdl {

// All entries, in their defined order.
const std::vector<std::pair<std::string, std::string>>& abbreviation_map();
// The expansion of `key`, or nullptr when it is not an abbreviation.
const std::string* abbreviation_lookup(std::string_view key);

}  // namespace quarrix::hdl
