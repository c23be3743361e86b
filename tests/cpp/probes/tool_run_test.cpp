#include "quarrix/probes/tool_run.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "probes/scoped_env.hpp"

namespace {

using quarrix::probes::find_on_path;
using quarrix::probes::run_tool;
using quarrix::probes::RunOptions;
using quarrix::testing::ScopedEnv;
using quarrix::testing::TempRepo;
using quarrix::testing::write_tool;

// Running and not a zombie (a killed orphan may wait a while for its reaper).
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_field, comm, state;
  if (!(stat >> pid_field >> comm >> state)) return false;
  return state != "Z" && state != "X";
}

RunOptions capture(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  RunOptions options;
  options.timeout = timeout;
  options.capture_stdout = true;
  options.capture_stderr = true;
  return options;
}

TEST(RunTool, ReportsExitCodeAndStreamsWithoutAShell) {
  const auto r = run_tool({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, capture());
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  EXPECT_FALSE(r.succeeded());

  // Arguments reach the program verbatim: nothing is expanded.
  const auto echo = run_tool({"/bin/echo", "$HOME", "*", "a b"}, capture());
  EXPECT_TRUE(echo.succeeded());
  EXPECT_EQ(echo.out, "$HOME * a b\n");
}

TEST(RunTool, DiscardsStreamsUnlessAskedAndRunsInTheGivenDirectory) {
  TempRepo dir;
  RunOptions options;
  options.cwd = dir.path();
  const auto r = run_tool({"/bin/sh", "-c", "pwd; pwd > where"}, options);
  EXPECT_TRUE(r.succeeded());
  EXPECT_EQ(r.out, "");
  std::ifstream where(dir.at("where"));
  std::string line;
  std::getline(where, line);
  EXPECT_EQ(std::filesystem::canonical(line), std::filesystem::canonical(dir.path()));
}

TEST(RunTool, MissingProgramIsAResultNotAnError) {
  const auto r = run_tool({"/nonexistent/tool", "x"}, capture());
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.succeeded());
  EXPECT_FALSE(run_tool({}, capture()).started);
}

TEST(RunTool, TimeoutKillsTheWholeProcessGroup) {
  TempRepo dir;
  const std::string pid_file = dir.at("child.pid").string();
  // The tool starts a grandchild that would outlive it, then hangs.
  const auto start = std::chrono::steady_clock::now();
  const auto r = run_tool({"/bin/sh", "-c", "sleep 30 & echo $! > '" + pid_file + "'; sleep 30"},
                          capture(std::chrono::milliseconds(300)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.succeeded());
  EXPECT_LT(took, std::chrono::seconds(5));

  std::ifstream in(pid_file);
  pid_t grandchild = 0;
  ASSERT_TRUE(in >> grandchild);
  for (int i = 0; i < 100 && alive(grandchild); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(alive(grandchild));
}

TEST(RunTool, LeftoverProcessesDoNotHoldUpACompletedRun) {
  // The tool exits at once but leaves a child holding its output pipe.
  const auto start = std::chrono::steady_clock::now();
  const auto r = run_tool({"/bin/sh", "-c", "sleep 30 & exit 0"}, capture(std::chrono::seconds(20)));
  EXPECT_TRUE(r.succeeded());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(RunTool, KillRunningToolsEndsEveryRunningTool) {
  quarrix::probes::RunResult result;
  std::thread runner([&result] {
    result = run_tool({"/bin/sh", "-c", "sleep 30"}, capture(std::chrono::seconds(20)));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto start = std::chrono::steady_clock::now();
  quarrix::probes::kill_running_tools();
  runner.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.timed_out);
  EXPECT_FALSE(result.succeeded());
}

TEST(RunTool, CapturedOutputIsBounded) {
  const auto r = run_tool({"/bin/sh", "-c", "head -c 3000000 /dev/zero"}, capture());
  EXPECT_TRUE(r.succeeded());
  EXPECT_EQ(r.out.size(), quarrix::probes::kCaptureLimit);
}

TEST(RunTool, MemoryLimitFailsAGreedyToolCleanly) {
  // dd allocates its block size at once.
  RunOptions options = capture();
  options.memory_limit = std::uint64_t{100} << 20;
  const auto greedy = run_tool({"/bin/sh", "-c", "exec dd if=/dev/zero of=/dev/null bs=1G count=1"}, options);
  EXPECT_TRUE(greedy.started);
  EXPECT_FALSE(greedy.timed_out);
  EXPECT_FALSE(greedy.succeeded());
  // Below the limit the same tool works: the limit is what failed it.
  EXPECT_TRUE(run_tool({"/bin/sh", "-c", "exec dd if=/dev/zero of=/dev/null bs=1M count=1"}, options).succeeded());
  // The limit is the child's alone.
  rlimit ours{};
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &ours), 0);
  EXPECT_NE(ours.rlim_cur, options.memory_limit);
}

TEST(RunTool, UnusableWorkingDirectoryMeansNotStarted) {
  RunOptions options = capture();
  options.cwd = "/nonexistent/dir";
  EXPECT_FALSE(run_tool({"/bin/true"}, options).started);
}

TEST(FindOnPath, LooksAtPathWhenCalled) {
  TempRepo bin;
  write_tool(bin, "mytool", "exit 0\n");
  bin.write("notexec", "x");
  {
    ScopedEnv path("PATH", "/nonexistent:" + bin.path());
    EXPECT_EQ(find_on_path("mytool"), bin.at("mytool").string());
    EXPECT_EQ(find_on_path("notexec"), std::nullopt);
    EXPECT_EQ(find_on_path("missing"), std::nullopt);
  }
  {
    ScopedEnv path("PATH", "/nonexistent");
    EXPECT_EQ(find_on_path("mytool"), std::nullopt);
  }
}

TEST(FindOnPath, NeverSearchesTheWorkingDirectory) {
  TempRepo dir;
  write_tool(dir, "ghdl", "exit 0\n");
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    ScopedEnv path("PATH", ":/nonexistent:");
    EXPECT_EQ(find_on_path("ghdl"), std::nullopt);
  }
  std::filesystem::current_path(old);
}

TEST(ToolTimeout, ReadsTheEnvironment) {
  struct Case {
    std::optional<std::string> value;
    long long ms;
  };
  for (const auto& c : std::vector<Case>{{std::nullopt, 120000},
                                         {"2.5", 2500},
                                         {" 10 ", 10000},
                                         {"0", 120000},
                                         {"-3", 120000},
                                         {"nan", 120000},
                                         {"inf", 120000},
                                         {"soon", 120000}}) {
    ScopedEnv env("QUARRIX_TOOL_TIMEOUT", c.value);
    EXPECT_EQ(quarrix::probes::tool_timeout().count(), c.ms) << c.value.value_or("<unset>");
  }
}

}  // namespace
