#pragma once
// What a compile command reads, digested, for the keys of the tool cache: the
// content of every source file named in the command, and of every header the
// tool may find through its include directories. For -I and -y directories
// all Verilog files (.v .sv .vh .svh) directly inside are taken, whether the
// design includes them or not: a superset costs a few spurious misses, a
// subset would serve a stale verdict after a header changed.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "digest128.hpp"

namespace quarrix::probes::detail {

// Thread-safe. Files are read once per object: hold one for one scan, during
// which the repository does not change.
class InputDigests {
 public:
  Digest128 of_command(const std::vector<std::string>& argv);

 private:
  Digest128 of_file(const std::string& path);
  Digest128 of_directory(const std::string& dir);

  std::mutex mutex_;
  std::map<std::string, Digest128> files_;
  std::map<std::string, Digest128> directories_;
};

}  // namespace quarrix::probes::detail
