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

// The licence expression a source file declares for itself: the text after
// "SPDX-License-Identifier:" on the first of its first 64 lines that holds it,
// trimmed, without a closing "*/" or "-->", at most 120 characters; or "".
std::string spdx_expression_in(const std::string& source_path);

// "permissive", "weak-copyleft", "strong-copyleft" or "unknown".
std::string classify_license(std::string_view spdx_id);

}  // namespace quarrix::license
