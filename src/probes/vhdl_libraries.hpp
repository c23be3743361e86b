#pragma once
// Which library each VHDL source of a compile list is analysed into.

#include <string>
#include <vector>

namespace quarrix::probes::detail {

// For each of `sources` (in order), the library its design units are known
// by: the one a source of the list names them through (`use math.math_pkg`,
// `entity fifo.fifo`, `context olo.ctx`, or `work.` from a source in that
// library), else `work_library`. Names are lower-cased; a source read as
// nothing keeps `work_library`.
std::vector<std::string> vhdl_libraries(const std::vector<std::string>& sources, const std::string& work_library);

}  // namespace quarrix::probes::detail
