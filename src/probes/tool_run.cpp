#include "quarrix/probes/tool_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <thread>

#include "quarrix/util/env.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/text.hpp"

extern char** environ;

namespace quarrix::probes {

namespace {

using Clock = std::chrono::steady_clock;

// Process groups of the tools running now, for kill_running_tools(). A fixed
// table of lock-free slots, so that a signal handler may read it.
constexpr std::size_t kRunningSlots = 64;
std::atomic<pid_t> running[kRunningSlots];

struct RunningTool {
  std::atomic<pid_t>* slot = nullptr;
  explicit RunningTool(pid_t pid) {
    for (auto& s : running) {
      pid_t expected = 0;
      if (s.compare_exchange_strong(expected, pid)) {
        slot = &s;
        return;
      }
    }
  }
  ~RunningTool() {
    if (slot) slot->store(0);
  }
};

bool is_executable_file(const std::string& path) {
  return util::is_regular_file(path) && ::access(path.c_str(), X_OK) == 0;
}

// Pipe ends we read from; closed when the object goes away.
struct ReadEnd {
  int fd = -1;
  std::string* sink = nullptr;  // nullptr: discard
  ~ReadEnd() {
    if (fd >= 0) ::close(fd);
  }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  // Reads what is there; closes on end of file or error.
  void drain() {
    char buf[65536];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) return close();
    if (sink && sink->size() < kCaptureLimit)
      sink->append(buf, std::min<std::size_t>(static_cast<std::size_t>(n), kCaptureLimit - sink->size()));
  }
};

// True once `pid` has ended; the zombie stays so its process group id cannot be
// reused before we have killed what is left in the group.
bool has_exited(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0)
    if (errno != EINTR) return true;
  return info.si_pid == pid;
}

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

std::optional<std::string> find_on_path(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) return is_executable_file(name) ? std::optional(name) : std::nullopt;
  // An empty PATH entry would mean the working directory: never searched, so
  // a scanned repository cannot plant a "ghdl" where we run.
  for (const auto& dir : util::split(util::getenv_str("PATH").value_or("/bin:/usr/bin"), ":")) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (is_executable_file(candidate)) return candidate;
  }
  return std::nullopt;
}

void kill_running_tools() noexcept {
  for (auto& s : running)
    if (const pid_t pid = s.load(); pid > 0) ::kill(-pid, SIGKILL);
}

std::chrono::milliseconds tool_timeout() {
  constexpr std::chrono::milliseconds kDefault{120000};
  const auto value = util::getenv_str("QUARRIX_TOOL_TIMEOUT");
  if (!value) return kDefault;
  const auto seconds = util::parse_float(*value);
  if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) return kDefault;
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(std::min(*seconds, 86400.0) * 1000)));
}

RunResult run_tool(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty()) return result;

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return result;
  }
  ReadEnd out{out_pipe[0], options.capture_stdout ? &result.out : nullptr};
  ReadEnd err{err_pipe[0], options.capture_stderr ? &result.err : nullptr};

  pid_t pid = -1;
  int spawn_error;
  {
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&setup.actions, err_pipe[1], 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&setup.actions, options.cwd.c_str());
    // Own process group (so a timeout can kill everything the tool started),
    // no inherited signal mask, and default handling of the signals a host
    // such as Python ignores.
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGXFSZ, SIGALRM, SIGUSR1, SIGUSR2})
      sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);

    std::vector<char*> cargv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    spawn_error = ::posix_spawn(&pid, argv[0].c_str(), &setup.actions, &setup.attr, cargv.data(), environ);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawn_error != 0) return result;
  result.started = true;
  const RunningTool registered(pid);

  const auto deadline = Clock::now() + options.timeout;
  bool exited = false;
  std::optional<Clock::time_point> drain_until;
  for (;;) {
    if (!exited && has_exited(pid)) {
      exited = true;
      ::kill(-pid, SIGKILL);  // whatever the tool left running
      drain_until = Clock::now() + std::chrono::seconds(1);
    }
    const auto now = Clock::now();
    if (!exited && now >= deadline) {
      result.timed_out = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    if (out.fd < 0 && err.fd < 0) {
      if (exited) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    if (drain_until && now >= *drain_until) break;  // an escaped process holds a pipe
    pollfd fds[2] = {{out.fd, POLLIN, 0}, {err.fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, 20);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      if (fds[0].revents) out.drain();
      if (fds[1].revents) err.drain();
    }
  }
  out.close();
  err.close();

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return result;
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarrix-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace quarrix::probes
