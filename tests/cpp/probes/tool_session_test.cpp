#include "quarrix/probes/tool_session.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "probes/scoped_env.hpp"
#include "quarrix/probes/sandbox.hpp"
#include "quarrix/util/file.hpp"

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
  quarrix::testing::NoSandbox unsandboxed{dir};
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

// Steps share one scratch directory; the first that fails is the answer,
// after the output of the ones before it, and nothing after it runs.
TEST(ToolSession, StepsRunInOneDirectoryUntilOneFails) {
  CountingTool tool(
      "case \"$1\" in make) echo made > lib; echo made >&2;; use) read -r made < lib || exit 4; echo \"$made\" >&2;; "
      "fail) exit 5;; esac\n");
  ToolSession session;
  RunOptions options;
  options.scratch_cwd = true;
  options.capture_stderr = true;
  const auto passed = session.run_steps({{tool.path, "make"}, {tool.path, "use"}}, options);
  ASSERT_TRUE(passed);
  EXPECT_TRUE(passed->succeeded());
  EXPECT_EQ(passed->err, "made\nmade\n");
  const auto failed = session.run_steps({{tool.path, "make"}, {tool.path, "fail"}, {tool.path, "use"}}, options);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->exit_code, 5);
  EXPECT_EQ(tool.calls(), 4u);
  // A step alone is another command: its scratch directory holds no lib.
  EXPECT_EQ(session.run_steps({{tool.path, "use"}}, options)->exit_code, 4);
  session.run_steps({{tool.path, "make"}, {tool.path, "use"}}, options);
  EXPECT_EQ(tool.calls(), 5u);
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
  CountingTool tool("exec /bin/sleep 30\n");
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

// A repository with a file of its own, a link out of it, and a secret beside it.
struct RepoAndOutside {
  TempRepo repo, outside, scratch;
  RepoAndOutside() {
    repo.write("rtl/in.v", "inside\n");
    outside.write("secret.v", "outside secret\n");
    std::filesystem::create_symlink(outside.at("secret.v"), repo.at("rtl/link.v"));
  }
};

TEST(ToolSession, SandboxedRunsReadTheRepositoryAndWriteOnlyTheirScratch) {
  if (!quarrix::probes::sandbox_program()) GTEST_SKIP() << "no sandbox on this machine";
  RepoAndOutside t;
  const quarrix::util::ReadConfinement confinement(t.repo.path());
  ToolSession session;
  ASSERT_TRUE(session.sandboxed());
  RunOptions options = in(t.scratch);
  options.capture_stdout = true;
  const std::string script = "cat '" + t.repo.at("rtl/in.v").string() + "' && ! cat '" +
                             t.outside.at("secret.v").string() + "' && ! cat '" + t.repo.at("rtl/link.v").string() +
                             "' && ! touch '" + t.repo.at("new").string() + "' && touch new && echo held";
  const auto run = session.run({"/bin/sh", "-c", script}, options);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->exit_code, 0) << run->out;
  EXPECT_EQ(run->out, "inside\nheld\n");
  EXPECT_TRUE(std::filesystem::exists(t.scratch.at("new")));
  EXPECT_FALSE(std::filesystem::exists(t.repo.at("new")));
}

TEST(ToolSession, SandboxedRunsFindTheRepositoryUnderTheNameTheyAreGiven) {
  if (!quarrix::probes::sandbox_program()) GTEST_SKIP() << "no sandbox on this machine";
  RepoAndOutside t;
  const std::filesystem::path alias = t.outside.at("alias");  // a link to the repository, as a user may scan it
  std::filesystem::create_directory_symlink(t.repo.path(), alias);
  const quarrix::util::ReadConfinement confinement(alias);
  ToolSession session;
  RunOptions options = in(t.scratch);
  options.capture_stdout = true;
  const auto run = session.run({"/bin/cat", (alias / "rtl" / "in.v").string()}, options);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->out, "inside\n");
}

TEST(ToolSession, WithoutASandboxNothingRunsThatMayReadOutside) {
  RepoAndOutside t;
  CountingTool tool("exit 0\n");
  const quarrix::util::ReadConfinement confinement(t.repo.path());
  ToolSession session;
  ASSERT_FALSE(session.sandboxed());
  const auto inside = session.run({tool.path, t.repo.at("rtl/in.v").string()}, in(t.scratch));
  RunOptions via_include = in(t.scratch);
  via_include.reads = {t.repo.at("rtl/link.v").string()};
  const auto linked = session.run({tool.path, t.repo.at("rtl/in.v").string(), "-x"}, via_include);
  RunOptions via_dir = in(t.scratch);
  via_dir.module_dirs = {t.repo.at("rtl").string()};  // rtl/link.v is a module file there
  const auto searched = session.run({tool.path, "-y"}, via_dir);
  const auto named = session.run({tool.path, t.outside.at("secret.v").string()}, in(t.scratch));
  ASSERT_TRUE(inside && linked && searched && named);
  EXPECT_TRUE(inside->succeeded());
  for (const auto& refused : {linked, searched, named}) EXPECT_FALSE(refused->started);
  EXPECT_EQ(tool.calls(), 1u);
  EXPECT_EQ(session.refused_outside(), 3u);
}

TEST(ToolSession, FirstErrorNamingAPathOutsideIsCutToItsKind) {
  RepoAndOutside t;
  const quarrix::util::ReadConfinement confinement(t.repo.path());
  const std::string in_repo = t.repo.at("rtl/in.v").string();
  const std::string secret = t.outside.at("secret.v").string();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"%Error: " + in_repo + ":3:1: syntax error", "%Error: rtl/in.v:3:1: syntax error"},
      {"%Error: " + secret + ":1:1: Can't find definition of variable: 'key'", "%Error"},
      {"%Error: " + in_repo + ":1: Cannot find include file: ../../x/secret.v", "%Error"},
      {"%Warning-IMPLICIT: " + t.repo.at("rtl/link.v").string() + ":1: quoted text", "%Warning-IMPLICIT"},
      {secret + ":2:3: error: no such entity", "error"},
      {"ieee/std_logic_1164 and/or error", "ieee/std_logic_1164 and/or error"},
      // GHDL: warnings, notes and quoted source before an error that says no "error"
      {"p.vhd:74:5:warning: declaration of \\\"length\\\" hides function\n    length : natural;\n    ^\n"
       "b.vhd:27:19:note: (you can use -frelaxed to turn this error into a warning)\n"
       "b.vhd:27:19: type of a shared variable must be a protected type",
       "b.vhd:27:19: type of a shared variable must be a protected type"},
      {"%Warning-WIDTH: a.v:1:1: width\n%Error: a.v:2:1: syntax error", "%Error: a.v:2:1: syntax error"},
  };
  for (const auto& [line, published] : cases) {
    CountingTool tool("echo \"" + line + "\" >&2\nexit 1\n");
    ToolSession session;
    std::string seen;
    session.observe([&](const quarrix::probes::ToolRunRecord& record) { seen = record.first_error; });
    RunOptions options = in(t.scratch);
    options.capture_stderr = true;
    session.run({tool.path}, options);
    EXPECT_EQ(seen, published) << line;
  }
}
