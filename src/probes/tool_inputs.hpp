#pragma once
// What a compile command reads, digested, for the keys of the tool cache: the
// content of every source file named in the command, and of every other file
// the caller says the tool reads (the headers it finds through its include
// directories). A path that does not exist is digested as absent, so a header
// that appears later changes the key of a command that looked for it.

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
  Digest128 of_command(const std::vector<std::string>& argv, const std::vector<std::string>& reads);

 private:
  Digest128 of_file(const std::string& path);

  std::mutex mutex_;
  std::map<std::string, Digest128> files_;
};

}  // namespace quarrix::probes::detail
