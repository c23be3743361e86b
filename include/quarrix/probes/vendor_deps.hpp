#pragma once
// The FPGA vendor libraries a compile list depends on.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace quarrix::probes {

// Sorted, distinct names of the vendor libraries that the sources of `files`
// use, read from their text (comments and strings ignored):
// - VHDL library clauses naming a vendor library (vendor_library_names());
// - instantiations of vendor primitives and macros: in Verilog an
//   instance "NAME #(" or "NAME label (", in VHDL "label : NAME" or
//   "component NAME", for the names of vendor_primitive_rules().
// Unreadable files contribute nothing.
std::vector<std::string> detect_vendor_deps(const std::vector<std::string>& files);

// detect_vendor_deps that reads each file once: a scan's compile lists share
// most of their files. A file is read again when its size, modification time
// or inode changed. Safe to share between threads.
class VendorDepsMemo {
 public:
  std::vector<std::string> detect(const std::vector<std::string>& files);

 private:
  using Stamp = std::tuple<long long, long long, unsigned long long>;  // size, mtime (ns), inode
  std::mutex mutex_;
  std::map<std::string, std::pair<Stamp, std::vector<std::string>>> by_path_;
};

// VHDL library names that are vendor libraries (lower case), e.g. "unisim".
const std::vector<std::string>& vendor_library_names();

// A family of primitive names and the library providing it: a name matches
// when it equals `name`, or starts with it when `is_prefix`. Verilog compares
// case-sensitively, VHDL case-insensitively.
struct PrimitiveRule {
  const char* name;
  bool is_prefix;
  const char* library;
};
const std::vector<PrimitiveRule>& vendor_primitive_rules();

// The rule of vendor_primitive_rules() that `name` matches, or nullptr.
const PrimitiveRule* find_vendor_primitive(std::string_view name, bool case_sensitive);

}  // namespace quarrix::probes
