#pragma once
// The HDL library of a repository: the name through which its own VHDL
// packages are used.

#include <string>

namespace quarrix::probes {

// The library named most often in the repository's `use <library>.<package>`
// clauses whose package the repository itself declares (first seen wins a
// tie), lower-cased; "work" when there is none. The standard libraries (ieee,
// std) and "work" itself never count. Reads the .vhd/.vhdl files below the root.
std::string detect_library_name(const std::string& repo_path);

}  // namespace quarrix::probes
