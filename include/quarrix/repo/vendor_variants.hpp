#pragma once
// Vendor variants: files that exist once per FPGA vendor, of which a build
// takes exactly one. Two conventions are recognised: files below TECH/<vendor>/
// (files directly in TECH/ being the "generic" default), and files named
// <base>_<vendor>.<ext> beside another file of the same base and extension.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::repo {

// Vendor word (lower case) -> canonical vendor name, in table order.
const std::vector<std::pair<std::string, std::string>>& vendor_tokens();
// The canonical name of a lower-case vendor word, or nullptr.
const std::string* vendor_token_lookup(std::string_view word);

// A TECH directory followed by a vendor-named subdirectory (IGNORECASE);
// group 1 is the subdirectory name.
extern const char* const kTechDirPattern;

// Canonical vendor -> sorted, duplicate-free list of the candidate paths
// (unchanged) that are its variants, vendors in ascending order; an empty
// object when there are none. `candidate_files` are repository-relative, "\"
// accepted as a separator. `repo_path` is not consulted: the detection works on
// the path strings alone.
Json detect_vendor_variants(const std::string& repo_path, const std::vector<std::string>& candidate_files);

}  // namespace quarrix::repo
