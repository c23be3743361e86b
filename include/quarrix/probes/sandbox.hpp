#pragma once
// A sandbox for the tool runs. A tool follows a repository's `include and
// its links wherever they lead, and quotes what it read in its messages; in
// the sandbox it sees the system's programs and libraries, the repository and
// its own scratch directory (the only place it may write), nothing else of
// the machine, and no network. bubblewrap makes it from namespaces.

#include <optional>
#include <string>
#include <vector>

namespace quarrix::probes {

// What a sandboxed run may see besides the system's programs.
struct SandboxView {
  std::vector<std::string> readable;  // directories or files, read-only, each at its own path
  std::string writable;               // the scratch directory; empty: none
};

// The bwrap program on PATH, when it can make a sandbox on this machine (tried
// once per program found); nullopt otherwise.
std::optional<std::string> sandbox_program();

// The argument vector that runs `argv` inside the sandbox `bwrap` makes of
// `view`, with the working directory `view.writable` (or "/" without one).
std::vector<std::string> sandboxed_argv(const std::string& bwrap, const std::vector<std::string>& argv,
                                        const SandboxView& view);

}  // namespace quarrix::probes
