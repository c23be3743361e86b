#pragma once
// The line of a tool's error output that a scan's report publishes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::probes::detail {

// The first line that mentions an error, else the first that is not blank,
// cut at 300 code points. A line that names a path outside `roots` (the
// resolved repository, then the repositories it depends on; nullopt: no
// check) is replaced by its message kind alone ("%Error", "error"): what a
// tool quotes from a file it should never have read stays unpublished. Paths
// inside the repository are written relative to it.
std::string first_error_line(const std::string& err, const std::optional<std::vector<std::string>>& roots);

// Whether a word of `line` is a path that leads outside every one of `roots`.
bool names_path_outside_of(std::string_view line, const std::vector<std::string>& roots);

}  // namespace quarrix::probes::detail
