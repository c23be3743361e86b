#pragma once
// Selecting the sources of one language from a compile list.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::probes::detail {

// The files whose lower-cased suffix is one of `suffixes` (such as
// hdl::kVhdlSuffixes), in order, each once, as absolute paths (so that no path
// handed to a tool can read as an option).
std::vector<std::string> sources_with_suffix(const std::vector<std::string>& files,
                                             std::span<const std::string_view> suffixes);

}  // namespace quarrix::probes::detail
