#include "quarrix/probes/tool_session.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "probes/scoped_env.hpp"

namespace {

using quarrix::probes::RunOptions;
using quarrix::probes::ToolLimits;
using quarrix::probes::ToolSession;
using quarrix::testing::TempRepo;
using quarrix::testing::write_tool;

std::size_t lines_in(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// A tool that logs each call, then runs `then`.
struct CountingTool {
  TempRepo dir;
  std::string path;
  explicit CountingTool(const std::string& then) {
    write_tool(dir, "tool", "echo \"$@\" >> '" + dir.at("calls").string() + "'\n" + then);
    path = dir.at("tool").string();
  }
  std::size_t calls() const { return lines_in(dir.at("calls")); }
};

RunOptions in(const TempRepo& scratch) {
  RunOptions options;
  options.cwd = scratch.path();
  return options;
}

TEST(ToolSession, SameCommandRunsOnceWhateverItsScratchDirectory) {
  CountingTool tool("exit 3\n");
  ToolSession session;
  TempRepo first, second;
  const auto a = session.run({tool.path, "-a", "--workdir=" + first.path()}, in(first));
  const auto again = session.run({tool.path, "-a", "--workdir=" + second.path()}, in(second));
  ASSERT_TRUE(a && again);
  EXPECT_EQ(a->exit_code, 3);
  EXPECT_EQ(again->exit_code, 3);
  EXPECT_EQ(tool.calls(), 1u);
  // Any other argument is another command.
  session.run({tool.path, "-b", "--workdir=" + first.path()}, in(first));
  session.run({tool.path, "-a", "--workdir=" + first.path(), "x"}, in(first));
  EXPECT_EQ(tool.calls(), 3u);
  // A new session runs it afresh.
  ToolSession next;
  next.run({tool.path, "-a"}, {});
  EXPECT_EQ(tool.calls(), 4u);
  EXPECT_EQ(session.runs_skipped(), 0u);
}

TEST(ToolSession, SpentBudgetSkipsRunsWithoutStartingThem) {
  CountingTool tool("exec sleep 30\n");
  {
    ToolSession none(ToolLimits{std::chrono::milliseconds(0)});
    EXPECT_FALSE(none.run({tool.path}, {}));
    EXPECT_FALSE(none.run({tool.path}, {}));  // a skip is not remembered as an answer
    EXPECT_EQ(none.runs_skipped(), 2u);
    EXPECT_EQ(tool.calls(), 0u);
  }
  // A run that outlasts the budget is cut at its end; later runs do not start.
  ToolSession tight(ToolLimits{std::chrono::milliseconds(300)});
  RunOptions patient;
  patient.timeout = std::chrono::seconds(20);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(tight.run({tool.path, "1"}, patient));
  EXPECT_FALSE(tight.run({tool.path, "2"}, patient));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(tool.calls(), 1u);
  EXPECT_EQ(tight.runs_skipped(), 2u);
}

TEST(ToolSession, EveryRunGetsTheMemoryLimit) {
  ToolLimits limits;
  limits.memory_bytes = std::uint64_t{100} << 20;
  ToolSession session(limits);
  const auto greedy = session.run({"/bin/dd", "if=/dev/zero", "of=/dev/null", "bs=1G", "count=1"}, {});
  ASSERT_TRUE(greedy);
  EXPECT_TRUE(greedy->started);
  EXPECT_FALSE(greedy->succeeded());
}

}  // namespace
