#pragma once
// What a compile command reads, digested, for the keys of the tool cache, and
// whether any of it lies outside the repository. A command reads the files it
// names, every file the caller says it may read (the candidates of its
// `include search, present or not), and in each directory it searches for
// modules (Verilator's -I) the module files there. A path that does not exist
// is digested as absent, so a header that appears later changes the key of a
// command that looked for it; a link is digested by what it leads to.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "digest128.hpp"

namespace quarrix::probes::detail {

struct CommandInputs {
  Digest128 digest;
  // Some file or directory the command may read resolves outside the read
  // confinement of the calling thread (the repository).
  bool leads_outside = false;
};

// Thread-safe. Files and directories are read once per object: hold one for
// one scan, during which the repository does not change, and use it from
// threads under one confinement.
class InputDigests {
 public:
  CommandInputs of_command(const std::vector<std::string>& argv, const std::vector<std::string>& reads,
                           const std::vector<std::string>& module_dirs);

 private:
  struct State {
    Digest128 digest;
    bool outside = false;
  };
  State of_file(const std::string& path);
  State of_module_dir(const std::string& dir);

  std::mutex mutex_;
  std::map<std::string, State> files_;
  std::map<std::string, State> dirs_;
};

}  // namespace quarrix::probes::detail
