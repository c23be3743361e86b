#pragma once
// What a compile command reads, digested, for the keys of the tool cache, and
// whether any of it lies outside the repository. A command reads the files it
// names, every file the caller says it may read (the candidates of its
// `include search, present or not), and in each directory it searches for
// modules (Verilator's -I) the module files there. A path that does not exist
// is digested as absent, so a header that appears later changes the key of a
// command that looked for it; a link is digested by what it leads to.
//
// Paths in the digest name the repository by a mark, not by where the
// checkout lies: the same sources and headers at another path give the same
// key (their contents still go in).

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "digest128.hpp"

namespace quarrix::probes::detail {

struct CommandInputs {
  Digest128 digest;
  // Some file or directory the command may read resolves outside the read
  // confinement of the calling thread (the repository).
  bool leads_outside = false;
};

// Stands for the repository's path in keys and in stored answers; NULs, which
// no argument, path or tool's text holds, enclose it.
inline constexpr std::string_view kCheckoutMark{"\0quarrix-checkout\0", 18};

// `text` with each of `checkout` (the names of the repository's directory)
// replaced by kCheckoutMark wherever it ends a name: followed by "/", a
// quote, a colon, white space, a bracket or the end, not by a letter, a
// digit or another character that continues a directory's name.
std::string without_checkout(std::string_view text, const std::vector<std::string>& checkout);
// `text` with kCheckoutMark replaced by `checkout`.
std::string with_checkout(std::string_view text, const std::string& checkout);

// Thread-safe. Files and directories are read once per object: hold one for
// one scan, during which the repository does not change, and use it from
// threads under one confinement.
class InputDigests {
 public:
  // `checkout`: the names of the repository's directory (none outside a scan).
  CommandInputs of_command(const std::vector<std::string>& argv, const std::vector<std::string>& reads,
                           const std::vector<std::string>& module_dirs, const std::vector<std::string>& checkout);

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
