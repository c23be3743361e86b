#pragma once
// The repository licence as an SPDX identifier, and its risk class.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrix::license {

// Licence file names tried in the repository root, in order.
const std::vector<std::string>& license_file_names();
// (pattern text, SPDX identifier), first match wins; searched IGNORECASE.
const std::vector<std::pair<std::string, std::string>>& spdx_patterns();

const std::vector<std::string>& strong_copyleft();
const std::vector<std::string>& weak_copyleft();
const std::vector<std::string>& permissive();

// The SPDX identifier of the first readable licence file (names tried exactly,
// then ignoring ASCII case when none exists), by the first matching pattern,
// else by the sentences of the untitled BSD and ISC bodies; or "".
std::string detect_license(const std::string& repo_path);

// "permissive", "weak-copyleft", "strong-copyleft" or "unknown".
std::string classify_license(std::string_view spdx_id);

}  // namespace quarrix::license
