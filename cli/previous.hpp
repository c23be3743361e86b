#pragma once
// Reading the earlier descriptions given with --previous.

#include <string>

#include <quarrix/util/json.hpp>

namespace quarrix::cli {

// A map entity name -> description from `file`, which holds either such a map
// (JSON object; null values are kept as "none") or an earlier output of
// quarrix-scan: a JSON array of rows, or one row per line. Rows contribute
// their "name" and "description" when both are strings; a later row wins.
// Throws UsageError naming the file when it is unreadable or neither form.
Json load_previous_descriptions(const std::string& file);

}  // namespace quarrix::cli
