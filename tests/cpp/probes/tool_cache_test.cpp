#include "quarrix/probes/tool_cache.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

#include "probes/scoped_env.hpp"
#include "quarrix/probes/tool_session.hpp"
#include "quarrix/util/file.hpp"

namespace {

using quarrix::probes::CachedRun;
using quarrix::probes::RunOptions;
using quarrix::probes::ToolCache;
using quarrix::probes::ToolSession;
using quarrix::testing::ScopedEnv;
using quarrix::testing::TempRepo;
using quarrix::testing::write_tool;

// A compiler stand-in that tells its version, logs each compile and exits 4
// (or as installed).
struct FakeCompiler {
  TempRepo dir;
  quarrix::testing::NoSandbox unsandboxed{dir};
  std::string path;
  FakeCompiler() { install(4); }
  void install(int exit_code) {
    write_tool(dir, "hdlc",
               "[ \"$1\" = --version ] && { echo 'hdlc 1.0'; exit 0; }\n"
               "echo \"$@\" >> '" +
                   dir.at("calls").string() + "'\nexit " + std::to_string(exit_code) + "\n");
    path = dir.at("hdlc").string();
  }
  std::size_t calls() const {
    std::ifstream in(dir.at("calls"));
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
};

// One scan: a fresh session over the cache at `db`; the exit code of the
// compile and whether it came from the cache.
std::pair<int, bool> compile(const std::string& db, const std::vector<std::string>& argv,
                             const std::vector<std::string>& reads = {}) {
  ToolSession session({}, std::make_shared<ToolCache>(db));
  TempRepo scratch;
  RunOptions options;
  options.cwd = scratch.path();
  options.reads = reads;
  const auto run = session.run(argv, options);
  EXPECT_TRUE(run);
  EXPECT_FALSE(session.cache()->problem()) << *session.cache()->problem();
  return {run ? run->exit_code : -1, session.cache_hits() == 1};
}

TEST(ToolCache, RescanRunsNothingUntilASourceOrAnIncludedHeaderChanges) {
  FakeCompiler tool;
  TempRepo repo, cache_dir;
  repo.write("rtl/top.v", "module top; endmodule\n");
  repo.write("inc/defs.vh", "`define W 8\n");
  const std::string db = cache_dir.at("tools.sqlite").string();
  const std::vector<std::string> argv{tool.path, "-I" + repo.at("inc").string(), repo.at("rtl/top.v").string()};
  // What the compile reads through its include directory: a header, and a
  // name looked for there that does not exist yet.
  const std::vector<std::string> reads{repo.at("inc/defs.vh").string(), repo.at("inc/later.vh").string()};

  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, false));
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, true));
  EXPECT_EQ(tool.calls(), 1u);

  repo.write("inc/defs.vh", "`define W 16\n");
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, false));
  repo.write("inc/unread.svh", "`define X\n");  // nothing reads it
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, true));
  repo.write("inc/later.vh", "`define Y\n");  // the name looked for appears
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, false));
  repo.write("rtl/top.v", "module top(); endmodule\n");
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, false));
  EXPECT_EQ(compile(db, argv, reads), std::make_pair(4, true));
  EXPECT_EQ(tool.calls(), 4u);

  // Another option is another command.
  auto other = argv;
  other.insert(other.begin() + 1, "-g2012");
  EXPECT_EQ(compile(db, other, reads), std::make_pair(4, false));
  EXPECT_EQ(tool.calls(), 5u);

  // A tool replaced in place answers afresh, though it tells the same version.
  tool.install(5);
  EXPECT_EQ(compile(db, other, reads), std::make_pair(5, false));
}

// Icarus rejects --version (exit 1) and tells its version with -V: its
// failed checks, the ones worth keeping, were never stored before.
TEST(ToolCache, IcarusIsAskedItsVersionTheWayItAnswers) {
  TempRepo dir, repo, cache_dir;
  quarrix::testing::NoSandbox unsandboxed{dir};
  write_tool(dir, "iverilog",
             "[ \"$1\" = -V ] && { echo 'Icarus Verilog version 11.0 (stable) ()'; exit 0; }\n"
             "[ \"$1\" = --version ] && { echo \"iverilog: invalid option -- '-'\" >&2; exit 1; }\n"
             "echo \"$@\" >> '" +
                 dir.at("calls").string() + "'\nexit 1\n");
  repo.write("top.v", "module top; endmodule\n");
  const std::string db = cache_dir.at("tools.sqlite").string();
  const std::vector<std::string> argv{dir.at("iverilog").string(), "-o", "/dev/null", repo.at("top.v").string()};
  EXPECT_EQ(compile(db, argv), std::make_pair(1, false));
  EXPECT_EQ(compile(db, argv), std::make_pair(1, true));
}

TEST(ToolCache, SameSourcesInAnotherCheckoutHitAndSpeakOfThatCheckout) {
  FakeCompiler tool;
  write_tool(tool.dir, "lint",
             "[ \"$1\" = --version ] && { echo 'lint 1.0'; exit 0; }\n"
             "echo x >> '" +
                 tool.dir.at("calls").string() +
                 "'\nfor f; do last=$f; done\necho \"%Error: $last:1:1: syntax error\" >&2\n"
                 "echo \"(in ${last%/rtl/top.v})\" >&2\nexit 1\n");
  TempRepo first, second, cache_dir;
  const std::string db = cache_dir.at("tools.sqlite").string();
  for (const TempRepo* repo : {&first, &second}) {
    repo->write("rtl/top.v", "module top; endmodule\n");
    repo->write("inc/defs.vh", "`define W 8\n");
  }
  // One scan of `repo`: (came from the cache, the error output, the published line).
  const auto scan = [&](const TempRepo& repo) {
    const quarrix::util::ReadConfinement confinement(repo.path());
    ToolSession session({}, std::make_shared<ToolCache>(db));
    std::string published;
    session.observe([&](const quarrix::probes::ToolRunRecord& record) { published = record.first_error; });
    TempRepo scratch;
    RunOptions options;
    options.cwd = scratch.path();
    options.capture_stderr = true;
    options.reads = {repo.at("inc/defs.vh").string()};
    const auto run = session.run(
        {tool.dir.at("lint").string(), "-I" + repo.at("inc").string(), repo.at("rtl/top.v").string()}, options);
    EXPECT_TRUE(run && run->exit_code == 1);
    return std::make_tuple(session.cache_hits() == 1, run ? run->err : "", published);
  };
  const auto [cold_hit, cold_err, cold_line] = scan(first);
  EXPECT_FALSE(cold_hit);
  EXPECT_EQ(cold_line, "%Error: rtl/top.v:1:1: syntax error");
  const auto [hit, err, line] = scan(second);
  EXPECT_TRUE(hit);
  EXPECT_EQ(err, "%Error: " + second.at("rtl/top.v").string() + ":1:1: syntax error\n(in " + second.path() + ")\n");
  EXPECT_EQ(line, cold_line);
  EXPECT_EQ(tool.calls(), 1u);

  // Contents still count: a header changed in one checkout misses there alone.
  second.write("inc/defs.vh", "`define W 16\n");
  EXPECT_FALSE(std::get<0>(scan(second)));
  EXPECT_TRUE(std::get<0>(scan(first)));
  EXPECT_EQ(tool.calls(), 2u);
}

TEST(ToolCache, UnusableCacheLeavesTheAnswerToTheTool) {
  FakeCompiler tool;
  TempRepo dir;
  dir.write("corrupt.sqlite", std::string(8192, '\x5a'));
  // /proc takes no new directory, whoever asks.
  for (const std::string db : {dir.at("corrupt.sqlite").string(), std::string("/proc/quarrix-test/tools.sqlite")}) {
    ToolSession session({}, std::make_shared<ToolCache>(db));
    const auto run = session.run({tool.path, "x"}, {});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->exit_code, 4);
    EXPECT_TRUE(session.cache()->problem()) << db;
  }
  EXPECT_EQ(tool.calls(), 2u);
}

// A scan that runs no tool leaves the database alone; asking after its state
// opens it, so a broken one is still reported.
TEST(ToolCache, OpenedAtFirstUse) {
  TempRepo dir;
  const std::string db = dir.at("tools.sqlite").string();
  { ToolCache unused(db); }
  EXPECT_FALSE(std::filesystem::exists(db));
  ToolCache asked(db);
  EXPECT_FALSE(asked.problem());
  EXPECT_TRUE(std::filesystem::exists(db));
  dir.write("corrupt.sqlite", std::string(8192, '\x5a'));
  ToolCache corrupt(dir.at("corrupt.sqlite").string());
  EXPECT_TRUE(corrupt.problem());
}

CachedRun exited(int code) {
  CachedRun run;
  run.result.started = true;
  run.result.exit_code = code;
  return run;
}

TEST(ToolCache, WritersOnSeparateConnectionsShareOneDatabase) {
  TempRepo dir;
  const std::string db = dir.at("tools.sqlite").string();
  auto writer = [&db](int first) {
    ToolCache cache(db);
    for (int i = first; i < first + 200; ++i) cache.store("key" + std::to_string(i), exited(i));
    EXPECT_FALSE(cache.problem()) << *cache.problem();
  };
  std::thread a(writer, 0), b(writer, 200);
  a.join();
  b.join();
  ToolCache cache(db);
  for (int i = 0; i < 400; ++i) {
    const auto found = cache.find("key" + std::to_string(i));
    ASSERT_TRUE(found) << i;
    EXPECT_EQ(found->result.exit_code, i);
  }
}

TEST(ToolCache, PastItsBoundTheLeastRecentlyUsedGo) {
  TempRepo dir;
  ToolCache cache(dir.at("tools.sqlite").string(), 3);
  for (const char* key : {"a", "b", "c"}) cache.store(key, exited(0));
  EXPECT_TRUE(cache.find("a"));  // now used after b and c
  cache.store("d", exited(0));
  EXPECT_FALSE(cache.find("b"));
  for (const char* key : {"a", "c", "d"}) EXPECT_TRUE(cache.find(key)) << key;
  EXPECT_FALSE(cache.problem());
}

TEST(ToolCache, DefaultPathFollowsXdgCacheHome) {
  {
    ScopedEnv xdg("XDG_CACHE_HOME", "/x/cache");
    EXPECT_EQ(ToolCache::default_path(), "/x/cache/quarrix/tools.sqlite");
  }
  ScopedEnv xdg("XDG_CACHE_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/u");
  EXPECT_EQ(ToolCache::default_path(), "/home/u/.cache/quarrix/tools.sqlite");
}

}  // namespace
