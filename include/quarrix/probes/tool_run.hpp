#pragma once
// Running the external tools of the probes: from an argument vector (never
// through a shell), in a process group of its own, with a time limit and,
// when asked, a bound on its address space.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarrix::probes {

// The executable that `name` denotes on the current PATH (read now), or
// nullopt. A name with a "/" is taken as a path. Only regular files that we may
// execute count.
std::optional<std::string> find_on_path(const std::string& name);

struct RunOptions {
  std::chrono::milliseconds timeout{60000};
  std::string cwd;  // empty: inherit ours
  // Through a ToolSession: run in a fresh empty directory made for the run
  // and removed after it, in place of cwd. Made only when the tool does run,
  // so an answer the session already has costs no directory.
  bool scratch_cwd = false;
  std::uint64_t memory_limit = 0;  // bytes of address space (RLIMIT_AS); 0: ours
  bool capture_stdout = false;     // otherwise discarded
  bool capture_stderr = false;
  // What the tool may read besides the files named in argv, for the tool
  // cache's key and, without a sandbox, the check that it all lies inside the
  // repository: files (the headers its include search may find, present or
  // not) and directories it searches for the files of missing modules.
  std::vector<std::string> reads;
  std::vector<std::string> module_dirs;
  bool reads_complete = true;  // false: not all is known, so no answer is kept between scans
};

struct RunResult {
  bool started = false;    // false when the program could not be started at all
  bool timed_out = false;  // the time limit killed its process group
  int exit_code = -1;      // -1 unless it exited normally
  std::string out;         // captured streams (cut at kCaptureLimit bytes)
  std::string err;

  bool succeeded() const { return started && !timed_out && exit_code == 0; }
};

inline constexpr std::size_t kCaptureLimit = 1 << 20;

// Runs argv[0] (a path, see find_on_path) with argv, stdin from /dev/null and
// our environment. On timeout the whole process group is killed; so are
// processes the tool left behind when it exits. A tool that needs more memory
// than memory_limit fails as it would on a full machine (no result of its
// own, exit status or signal). Never throws for a failing or missing program:
// that is a result.
RunResult run_tool(const std::vector<std::string>& argv, const RunOptions& options = {});

// Kills the process groups of the tools running at this moment. Only
// async-signal-safe calls: a program may call it from its SIGINT/SIGTERM
// handler so that no tool outlives it.
void kill_running_tools() noexcept;

// For a program that is being interrupted: kills the running tools, and no
// tool starts from then on (run_tool() answers "not started"), so that no
// answer made while it stops counts for anything. Async-signal-safe; for
// the rest of the process.
void stop_tools() noexcept;
bool tools_stopped() noexcept;

// Big designs take Verilator a minute to elaborate on a busy machine.
inline constexpr std::chrono::milliseconds kDefaultToolTimeout{120000};

// The per-tool time limit: QUARRIX_TOOL_TIMEOUT in seconds when it is a
// positive number, else kDefaultToolTimeout. Read at each call.
std::chrono::milliseconds tool_timeout();

// A fresh private directory under the system's temporary directory, removed
// with its content when the object goes away.
class TempDir {
 public:
  TempDir();  // throws std::system_error when none can be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quarrix::probes
