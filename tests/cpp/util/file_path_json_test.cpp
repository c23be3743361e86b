#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "quarrix/util/file.hpp"
#include "quarrix/util/json.hpp"
#include "quarrix/util/path.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;
using namespace quarrix::util;
namespace fs = std::filesystem;

namespace {
struct TempDir : quarrix::testing::TempRepo {
  fs::path path = at("");
};
}  // namespace

TEST(ReadFile, DecodesAndRejectsWhatIsNotARegularFile) {
  TempDir dir;
  std::ofstream(dir.path / "a.v", std::ios::binary) << "module \xff;\r\nx";
  EXPECT_EQ(read_text_file(dir.path / "a.v"), "module \xef\xbf\xbd;\nx");
  EXPECT_EQ(read_file_bytes(dir.path / "a.v"), "module \xff;\r\nx");

  ASSERT_EQ(mkfifo((dir.path / "README.md").c_str(), 0600), 0);  // would block forever if opened
  fs::create_directory(dir.path / "sub.v");
  fs::create_symlink(dir.path / "a.v", dir.path / "link.v");
  fs::create_symlink(dir.path / "missing", dir.path / "dangling.v");
  EXPECT_FALSE(read_text_file(dir.path / "README.md"));
  EXPECT_FALSE(read_text_file(dir.path / "sub.v"));
  EXPECT_FALSE(read_text_file(dir.path / "nothing.v"));
  EXPECT_FALSE(read_text_file(dir.path / "dangling.v"));
  EXPECT_FALSE(read_text_file("/dev/null"));
  EXPECT_TRUE(read_text_file(dir.path / "link.v"));  // links to regular files work
  EXPECT_TRUE(util::exists(dir.path / "README.md"));
  EXPECT_TRUE(util::is_directory(dir.path / "sub.v"));
  EXPECT_FALSE(util::is_regular_file(dir.path / "README.md"));
}

TEST(Paths, LexicalRelationsSuffixesAndOrder) {
  EXPECT_EQ(relative_to_root("/r/src/a.v", "/r"), "src/a.v");
  EXPECT_EQ(relative_to_root("/r//src/./a.v", "/r/"), "src/a.v");
  EXPECT_EQ(relative_to_root("/rx/a.v", "/r"), "/rx/a.v");  // a string prefix is not a parent
  EXPECT_EQ(relative_to_root("/other/a.v", "/r"), "/other/a.v");
  EXPECT_EQ(relative_to_root("/r", "/r"), ".");
  EXPECT_EQ(relative_to_root("r/x/../a.v", "r"), "x/../a.v");
  EXPECT_EQ(path_suffix("a.b.v"), ".v");
  EXPECT_EQ(path_suffix(".v"), "");
  EXPECT_EQ(path_suffix("a."), "");
  EXPECT_EQ(path_suffix_lower("dir.x/A.VHD"), ".vhd");
  EXPECT_EQ(join_path("/r", "src/a.v"), "/r/src/a.v");
  EXPECT_EQ(join_path("/r", "/abs/a.v"), "/abs/a.v");
  EXPECT_EQ(join_path("", "a.v"), "a.v");
  EXPECT_TRUE(path_less("a/b.v", "a.b/c.v"));
  EXPECT_TRUE(path_less("a/b.v", "a-c/x.v"));
  EXPECT_FALSE(path_less("a-c/x.v", "a/b.v"));
  EXPECT_TRUE(path_less("a", "a/b"));
  EXPECT_FALSE(path_less("a/b", "a//b/."));
  EXPECT_FALSE(path_less("a//b/.", "a/b"));
  EXPECT_TRUE(path_less("/z", "a"));  // the root part "/" sorts first
  EXPECT_EQ(path_name("/"), "");
  EXPECT_EQ(path_name("a/b/./"), "b");
  EXPECT_EQ(normalize_path("./"), ".");
  EXPECT_EQ(normalize_path("//a/./b//"), "/a/b");
  EXPECT_EQ(path_parts("/a//./b"), (std::vector<std::string>{"/", "a", "b"}));
}

TEST(Json, StrictParsing) {
  auto v = parse_json(R"({"a": 1, "b": 2, "a": 3})");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->dump(), R"({"a":3,"b":2})");  // last value, first position
  for (const char* bad : {"NaN", "[Infinity]", "\xef\xbb\xbf{}", "{", "[1,]", "\"\xff\""})
    EXPECT_FALSE(parse_json(bad)) << bad;
  EXPECT_FALSE(parse_json(std::string(100000, '[') + std::string(100000, ']')));
  EXPECT_TRUE(parse_json("[[[]]]"));
  // Data after the value is malformed, a NUL byte as much as any other.
  using namespace std::string_literals;
  for (const std::string bad : {R"({"a/b": {"verdict": "good"}})"s + '\0' + "junk", "{}\0"s, "\"a\0b\""s, "1 2"s})
    EXPECT_FALSE(parse_json(bad)) << bad;
  EXPECT_TRUE(parse_json(" {} \n\t"));
}

TEST(Json, LargeObjectsKeepOrderAndLastValue) {
  std::string text = "{";
  for (int i = 0; i < 100000; ++i) text += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
  text += R"("k5": "again", "k99999": [{"x": 1, "x": 2}]})";
  const auto v = parse_json(text);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->size(), 100000u);
  EXPECT_EQ(v->begin().key(), "k0");
  EXPECT_EQ((*v)["k5"], "again");
  EXPECT_EQ(std::next(v->begin(), 5).key(), "k5");
  EXPECT_EQ((*v)["k99999"].dump(), R"([{"x":2}])");
}

TEST(Json, DumpsLikePython) {
  Json v = Json::object();
  v["model"] = "m";
  v["text"] = "a\"b\\c\n\t\x7f\xc3\xa9\xf0\x9f\x98\x80";
  v["n"] = Json::array({1, true, nullptr});
  EXPECT_EQ(dumps_python(v), R"({"model": "m", "text": "a\"b\\c\n\t\u007f\u00e9\ud83d\ude00", "n": [1, true, null]})");
}

TEST(ReadFile, ConfinementKeepsReadsInsideTheRoot) {
  TempDir outside;
  TempDir repo;
  std::ofstream(outside.path / "secret") << "canary";
  std::ofstream(repo.path / "inside.v") << "module m; endmodule";
  fs::create_directory(repo.path / "sub");
  fs::create_symlink(outside.path / "secret", repo.path / "README.md");
  fs::create_symlink(repo.path / "inside.v", repo.path / "sub" / "alias.v");
  fs::create_symlink("../inside.v", repo.path / "sub" / "relative.v");
  fs::create_directory_symlink(outside.path, repo.path / "ext");
  fs::create_directory_symlink(repo.path / "sub", repo.path / "also");
  {
    const ReadConfinement confine(repo.path / "sub" / "..");
    EXPECT_FALSE(read_text_file(repo.path / "README.md"));
    EXPECT_FALSE(read_text_file(outside.path / "secret"));
    EXPECT_TRUE(read_text_file(repo.path / "sub" / "alias.v"));
    EXPECT_TRUE(read_text_file(repo.path / "sub" / "relative.v"));
    // A directory is resolved whole: a link out of it, a link and ".." within it.
    EXPECT_FALSE(read_text_file(repo.path / "ext" / "secret"));
    EXPECT_TRUE(read_text_file(repo.path / "also" / ".." / "inside.v"));
    EXPECT_TRUE(read_text_file(repo.path / "also" / "alias.v"));
    for (const fs::path& p : {repo.path / "sub" / "alias.v", repo.path / "also" / ".." / "inside.v",
                              repo.path / "ext" / "secret", repo.path / "ext", repo.path / "missing.v"})
      EXPECT_EQ(resolved_path(p), fs::exists(p) ? std::optional<std::string>(fs::canonical(p).string()) : std::nullopt)
          << p;
    {
      const ReadConfinement inner(repo.path / "sub");
      EXPECT_FALSE(read_text_file(repo.path / "inside.v"));
    }
    EXPECT_TRUE(read_text_file(repo.path / "inside.v"));
  }
  EXPECT_EQ(read_text_file(repo.path / "README.md"), "canary");  // no confinement outside a scan
  {
    const ReadConfinement nowhere(repo.path / "missing");
    EXPECT_FALSE(read_text_file(repo.path / "inside.v"));
  }
}
