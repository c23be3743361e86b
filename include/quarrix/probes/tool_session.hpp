#pragma once
// The tool runs of one scan: a wall-time budget for all of them together, an
// address-space limit for each, and one run per distinct command.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quarrix/probes/tool_run.hpp"

namespace quarrix::probes {

struct ToolLimits {
  // Wall time of all runs together. Large enough for a few hundred compile
  // lists; a hostile repository can make every run last the full timeout.
  std::chrono::milliseconds budget{600000};
  // Address space of each run: big designs elaborate in well under 1 GiB,
  // while an `include of /dev/zero` grows Verilator by a GiB a second.
  std::uint64_t memory_bytes = std::uint64_t{2} << 30;
};

// Thread-safe; a probe holds it for the length of a scan.
class ToolSession {
 public:
  explicit ToolSession(ToolLimits limits = {});

  // Runs argv with `options`, its memory limit replaced by the session's and
  // its timeout cut to what is left of the budget. The same argv (with the
  // working directory's path masked, for options.cwd is a fresh scratch
  // directory) gives the answer of its first run without running again.
  // nullopt: the budget was spent before the run or ran out during it; the
  // caller should give up its check, so that runs_skipped() counts checks.
  std::optional<RunResult> run(const std::vector<std::string>& argv, const RunOptions& options);

  std::size_t runs_skipped() const;

 private:
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // two independent hashes of the command
  static Key key_of(const std::vector<std::string>& argv, const std::string& cwd);

  const ToolLimits limits_;
  mutable std::mutex mutex_;
  std::chrono::steady_clock::duration spent_{};
  std::size_t skipped_ = 0;
  // Keys, not commands: a scan of thousands of long compile lists would
  // otherwise keep every list.
  std::map<Key, RunResult> done_;
};

}  // namespace quarrix::probes
