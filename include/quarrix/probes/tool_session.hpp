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

// The commands of one check, each an argv.
using ToolSteps = std::vector<std::vector<std::string>>;

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
  // nullptr: the budget was spent before the run or ran out during it; the
  // caller should give up its check. runs_skipped() counts the checks so
  // refused (a version query refused is not one).
  //
  // Every run is sandboxed when the machine can make a sandbox (see
  // sandbox.hpp): it sees the repository (the read confinement of the calling
  // thread) read-only and options.cwd writable. Without a sandbox a command
  // that may read something outside the repository (options.reads and
  // module_dirs, the files it names, through links too) is not run: its answer
  // is "not started", and refused_outside() counts it.
  //
  // With a cache, the tool's version is asked first (`--version`, Icarus `-V`; once per session and
  // tool, on the budget); an answer found in the cache costs no budget. The
  // cache's key holds the tool's path, version and file stamp (device, inode,
  // size, modification time), the command as here, the limits of the run,
  // whether it was sandboxed, and what it may read (see tool_inputs.hpp),
  // the repository's path masked throughout: the same sources at another
  // checkout find the answer, its output then naming that checkout.
  // Runs that did not start, runs of a tool that cannot tell its version and
  // runs whose reads are not all known are not stored.
  std::shared_ptr<const RunResult> run(const std::vector<std::string>& argv, const RunOptions& options);
  // Commands run one after another as one check, in one working directory
  // (GHDL analyses each library of a design in a run of its own): the answer
  // is that of the first step that fails, else of the last, with the output
  // of the steps before it in front. Otherwise as run(), argv[0] of the first
  // step being the tool.
  std::shared_ptr<const RunResult> run_steps(const ToolSteps& steps, const RunOptions& options);

  // Whether runs are sandboxed.
  bool sandboxed() const { return sandbox_.has_value(); }

  // Told of every run() but version queries: the tool, its verdict, the first
  // line of its error output, the seconds it took and whether the answer came
  // from the cache. Set before the session is used; called on the thread that
  // asked.
  void observe(std::function<void(const ToolRunRecord&)> observer) { observer_ = std::move(observer); }

  // What the session's checks know of each Verilog file, read once per scan.
  detail::VerilogFileFacts& verilog_files() { return *verilog_files_; }

  std::size_t runs_skipped() const;
  std::size_t cache_hits() const;
  std::size_t refused_outside() const;
  const std::shared_ptr<ToolCache>& cache() const { return cache_; }

 private:
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // two independent hashes of the command
  static std::string command_text(const ToolSteps& steps, const std::string& cwd);
  static Key key_of(const ToolSteps& steps, const std::string& cwd);
  // An answer kept for the rest of the session, with how it was got and the
  // line a report publishes of it, worked out once: a check repeated by
  // thousands of units must cost microseconds.
  struct Done {
    std::shared_ptr<const RunResult> result;
    std::string first_error;
    std::optional<FailureCause> cause;
    double seconds = 0;
    bool from_cache = false;
  };
  // run() without the observer; nullptr when the budget refused the run.
  const Done* answer(const ToolSteps& steps, const RunOptions& options);
  // The answer kept for `key`, if any.
  const Done* remembered(const Key& key);
  // Keeps an answer for `key` (the first one kept wins).
  const Done* remember(const Key& key, RunResult result, double seconds, bool from_cache);
  // Runs the steps on the budget, sandboxed when it can be; nullopt when the budget refused them.
  std::optional<std::pair<RunResult, double>> run_on_budget(const ToolSteps& steps, const RunOptions& options);
  // The cache's answer for `stored_key`, counted as a hit and speaking of this checkout.
  std::optional<CachedRun> cached(const std::string& stored_key, const std::vector<std::string>& checkout);
  // The tool's version, asked once per session and tool; nullopt: no budget left.
  std::optional<RunResult> version_of(const std::string& tool, const RunOptions& options);
  std::string cache_key(const ToolSteps& steps, const RunOptions& options, const std::string& version,
                        const std::string& inputs, const std::vector<std::string>& checkout);

  const ToolLimits limits_;
  const std::shared_ptr<ToolCache> cache_;
  const std::optional<std::string> sandbox_;  // the bwrap program
  const std::unique_ptr<detail::InputDigests> inputs_;
  const std::unique_ptr<detail::VerilogFileFacts> verilog_files_;
  mutable std::mutex mutex_;
  std::chrono::steady_clock::duration spent_{};
  std::size_t skipped_ = 0;
  std::size_t cache_hits_ = 0;
  std::size_t refused_outside_ = 0;
  // Keys, not commands: a scan of thousands of long compile lists would
  // otherwise keep every list.
  std::map<Key, Done> done_;
  std::function<void(const ToolRunRecord&)> observer_;
};

}  // namespace quarrix::probes
