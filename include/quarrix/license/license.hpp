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

// The identifier a licence text states: by the table searched in its title
// block (its first five non-blank lines joined), else along its lines, else by
// the sentences of the untitled BSD and ISC bodies, else by a GNU notice
// ("under the terms of the GNU ... version 2"); a GNU licence found other than
// by the title becomes "-or-later" where the text allows any later version.
// "" when it states none.
std::string license_of_text(std::string_view text);

// The repository's licence: that of the first readable licence file (names
// tried exactly, then ignoring ASCII case when none exists); when it states
// none, the README's SPDX-License-Identifier line, the LICENSE-* files (a
// choice: "Apache-2.0 OR MIT"), the LICENSES/ directory (one licence, else
// ""), the README's licence section; or "".
std::string detect_license(const std::string& repo_path);

// What a unit's own source file says of its licence, in its first 64 lines:
// kProprietary under a vendor's proprietary notice, else the expression of its
// first SPDX-License-Identifier line, else the licence its header's notice or
// text states (license_of_text), else kProprietary under a vendor's copyright
// ("Copyright (C) 2003 Xilinx, Inc."); or "".
inline constexpr const char* kProprietary = "LicenseRef-Proprietary";
std::string unit_license(const std::string& source_path);

// "permissive", "weak-copyleft", "strong-copyleft" or "unknown".
std::string classify_license(std::string_view spdx_id);

}  // namespace quarrix::license
