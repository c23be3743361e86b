#include "quarrix/probes/tool_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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
std::atomic<bool> stopped{false};  // stop_tools() was called

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

// What the child needs between fork and exec, prepared beforehand: only
// async-signal-safe calls may run there, since the host may have threads.
struct ChildSetup {
  std::vector<char*> argv;
  const char* cwd = nullptr;
  std::optional<rlimit> address_space;
  int out_fd = -1, err_fd = -1;
  int status_fd = -1;  // close-on-exec; receives errno when the child cannot exec
  pid_t parent = 0;
};

// In the child: tells the parent why it could not exec.
[[noreturn]] void exit_with_errno(int status_fd) {
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(status_fd, &error, sizeof error);
  ::_exit(127);
}

[[noreturn]] void exec_child(const ChildSetup& setup) {
  // Default handling of every signal (ours would run here until exec, and a
  // host such as Python ignores some), then no mask.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
  // Own process group, so a timeout can kill everything the tool started.
  ::setpgid(0, 0);
  // Killed with us, should we die between starting it and recording it among
  // the running tools (a signal then finds nothing to kill).
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != setup.parent) ::_exit(127);
  const int null_fd = ::open("/dev/null", O_RDONLY);
  if (null_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(setup.out_fd, 1) < 0 || ::dup2(setup.err_fd, 2) < 0)
    exit_with_errno(setup.status_fd);
  if (null_fd > 2) ::close(null_fd);
  if (setup.cwd && ::chdir(setup.cwd) != 0) exit_with_errno(setup.status_fd);
  if (setup.address_space && ::setrlimit(RLIMIT_AS, &*setup.address_space) != 0) exit_with_errno(setup.status_fd);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(setup.argv[0], setup.argv.data(), environ);
  exit_with_errno(setup.status_fd);
}

// The child's address-space limit: `bytes`, or less when our hard limit is
// lower. Hard and soft alike, so the tool cannot raise it.
std::optional<rlimit> address_space_limit(std::uint64_t bytes) {
  if (bytes == 0) return std::nullopt;
  rlimit current{};
  if (::getrlimit(RLIMIT_AS, &current) != 0) return std::nullopt;
  rlim_t value = static_cast<rlim_t>(bytes);
  if (current.rlim_max != RLIM_INFINITY && current.rlim_max < value) value = current.rlim_max;
  return rlimit{value, value};
}

// Forks and execs; the pid, or -1 when the program could not be started.
pid_t start_child(const std::vector<std::string>& argv, const RunOptions& options, int out_fd, int err_fd) {
  int status_pipe[2];
  if (::pipe2(status_pipe, O_CLOEXEC) != 0) return -1;
  ChildSetup setup;
  for (const auto& a : argv) setup.argv.push_back(const_cast<char*>(a.c_str()));
  setup.argv.push_back(nullptr);
  if (!options.cwd.empty()) setup.cwd = options.cwd.c_str();
  setup.address_space = address_space_limit(options.memory_limit);
  setup.out_fd = out_fd;
  setup.err_fd = err_fd;
  setup.status_fd = status_pipe[1];
  setup.parent = ::getpid();

  // No handler of ours may run in the child before it has reset them.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(setup);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::close(status_pipe[1]);
  if (pid < 0) {
    ::close(status_pipe[0]);
    return -1;
  }
  ::setpgid(pid, pid);  // also here, so the group exists whichever of us runs first

  // End of file: the exec succeeded. An errno: it did not.
  int error = 0;
  ssize_t n;
  while ((n = ::read(status_pipe[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(status_pipe[0]);
  if (n <= 0) return pid;
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

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

void stop_tools() noexcept {
  stopped = true;
  kill_running_tools();
}

bool tools_stopped() noexcept { return stopped; }

std::chrono::milliseconds tool_timeout() {
  const auto value = util::getenv_str("QUARRIX_TOOL_TIMEOUT");
  if (!value) return kDefaultToolTimeout;
  const auto seconds = util::parse_float(*value);
  if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) return kDefaultToolTimeout;
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(std::min(*seconds, 86400.0) * 1000)));
}

RunResult run_tool(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty() || stopped) return result;

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return result;
  }
  ReadEnd out{out_pipe[0], options.capture_stdout ? &result.out : nullptr};
  ReadEnd err{err_pipe[0], options.capture_stderr ? &result.err : nullptr};

  const pid_t pid = start_child(argv, options, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (pid < 0) return result;
  result.started = true;
  const RunningTool registered(pid);
  if (stopped) ::kill(-pid, SIGKILL);  // stopped between the check above and the registration

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
