#pragma once
// The tool runs of one scan: a wall-time budget for all of them together, an
// address-space limit for each, and one run per distinct command; with a
// ToolCache, answers also carry over from earlier scans.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quarrix/probes/tool_cache.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/probes/tool_run_record.hpp"

namespace quarrix::probes {

namespace detail {
class InputDigests;
class VerilogFileFacts;
}  // namespace detail

struct ToolLimits {
  // Wall time of all runs together. Large enough for a few hundred compile
  // lists; a hostile repository can make every run last the full timeout.
  std::chrono::milliseconds budget{600000};
  // Address space of each run: big designs elaborate in well under 1 GiB,
  // while an `include of /dev/zero` grows Verilator by a GiB a second.
  std::uint64_t memory_bytes = std::uint64_t{2} << 30;
  // Wall time of each run (tool_timeout() reads it from the environment).
  std::chrono::milliseconds run_timeout = kDefaultToolTimeout;
};

// Thread-safe; a probe holds it for the length of a scan.
class ToolSession {
 public:
  // `cache`: where answers are looked up before running and stored after;
  // none keeps them for this session only.
  explicit ToolSession(ToolLimits limits = {}, std::shared_ptr<ToolCache> cache = nullptr);
  ~ToolSession();

  const ToolLimits& limits() const { return limits_; }

  // Runs argv with `options`, its memory limit replaced by the session's and
  // its timeout cut to what is left of the budget. The same argv (with the
  // working directory's path masked, for options.cwd is a fresh scratch
  // directory) gives the answer of its first run without running again.
  // nullopt: the budget was spent before the run or ran out during it; the
  // caller should give up its check, so that runs_skipped() counts checks.
  //
  // With a cache, the tool's `--version` is asked first (once per session and
  // tool, on the budget); an answer found in the cache costs no budget. The
  // cache's key holds the tool's path, version and file stamp (device, inode,
  // size, modification time), the command as here, the limits of the run,
  // and the content of the files it reads (see tool_inputs.hpp). Runs that
  // did not start, and runs of a tool that cannot tell its version, are not
  // stored.
  std::optional<RunResult> run(const std::vector<std::string>& argv, const RunOptions& options);

  // Told of every run() but version queries: the tool, its verdict, the first
  // line of its error output, the seconds it took and whether the answer came
  // from the cache. Set before the session is used; called on the thread that
  // asked.
  void observe(std::function<void(const ToolRunRecord&)> observer) { observer_ = std::move(observer); }

  // What the session's checks know of each Verilog file, read once per scan.
  detail::VerilogFileFacts& verilog_files() { return *verilog_files_; }

  std::size_t runs_skipped() const;
  std::size_t cache_hits() const;
  const std::shared_ptr<ToolCache>& cache() const { return cache_; }

 private:
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // two independent hashes of the command
  static std::string command_text(const std::vector<std::string>& argv, const std::string& cwd);
  static Key key_of(const std::vector<std::string>& argv, const std::string& cwd);
  // An answer kept for the rest of the session, with how it was got.
  struct Done {
    RunResult result;
    double seconds = 0;
    bool from_cache = false;
  };
  // run() without the observer; `how` tells how an answer was got.
  std::optional<RunResult> answer(const std::vector<std::string>& argv, const RunOptions& options, Done& how);
  // answer() without the persistent cache.
  std::optional<RunResult> run_in_session(const std::vector<std::string>& argv, const RunOptions& options, Done& how);
  std::string cache_key(const std::vector<std::string>& argv, const RunOptions& options, const std::string& version);

  const ToolLimits limits_;
  const std::shared_ptr<ToolCache> cache_;
  const std::unique_ptr<detail::InputDigests> inputs_;
  const std::unique_ptr<detail::VerilogFileFacts> verilog_files_;
  mutable std::mutex mutex_;
  std::chrono::steady_clock::duration spent_{};
  std::size_t skipped_ = 0;
  std::size_t cache_hits_ = 0;
  // Keys, not commands: a scan of thousands of long compile lists would
  // otherwise keep every list.
  std::map<Key, Done> done_;
  std::function<void(const ToolRunRecord&)> observer_;
};

}  // namespace quarrix::probes
