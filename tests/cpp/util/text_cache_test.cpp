#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text_cache.hpp"
#include "support/temp_repo.hpp"

namespace {

using quarrix::testing::TempRepo;
using namespace quarrix::util;

struct Reads {
  std::optional<std::string> bytes, text;
  bool operator==(const Reads&) const = default;
};

Reads read_both(const std::filesystem::path& path) { return {read_file_bytes(path), read_text_file(path)}; }

// Every kind of path answers the same through the cache, on first and later
// reads, whichever of the two read functions comes first.
TEST(ScanTextCache, AnswersAsAnUncachedRead) {
  TempRepo repo;
  repo.write("plain.v", "module m;\nendmodule\n");
  repo.write("crlf.vhd", "entity e is\r\nend;\r\n");
  repo.write("latin1.v", std::string("// caf\xe9\nmodule m; endmodule\n"));
  repo.write("empty.v", "");
  std::filesystem::create_directories(repo.at("dir.v"));
  ASSERT_EQ(mkfifo(repo.at("pipe.v").c_str(), 0600), 0);  // would block if opened
  TempRepo outside;
  outside.write("secret.v", "module secret; endmodule\n");
  std::filesystem::create_symlink(outside.at("secret.v"), repo.at("link.v"));

  const ReadConfinement confinement(repo.path());
  for (const char* name : {"plain.v", "crlf.vhd", "latin1.v", "empty.v", "dir.v", "pipe.v", "link.v", "missing.v"}) {
    const auto path = repo.at(name);
    const Reads expected = read_both(path);
    for (bool text_first : {false, true}) {
      ScanTextCache cache;
      Reads first;
      if (text_first) {
        first.text = read_text_file(path);
        first.bytes = read_file_bytes(path);
      } else {
        first = read_both(path);
      }
      EXPECT_EQ(first, expected) << name;
      EXPECT_EQ(read_both(path), expected) << name;
      EXPECT_EQ(cache.size(), 1u) << name;
    }
  }
  EXPECT_EQ(read_text_file(repo.at("crlf.vhd")), "entity e is\nend;\n");
  EXPECT_EQ(read_text_file(repo.at("link.v")), std::nullopt);
}

// A text read twice in a scan is the cache's one copy; without a cache each
// read holds its own.
TEST(ScanTextCache, FileTextRefersToTheCachedText) {
  TempRepo repo;
  repo.write("crlf.vhd", "entity e is\r\nend;\r\n");
  repo.write("plain.v", "module m;\n");
  {
    ScanTextCache cache;
    for (const char* name : {"crlf.vhd", "plain.v"}) {
      const FileText first = read_text(repo.at(name));
      const FileText second = read_text(repo.at(name));
      ASSERT_TRUE(first && second);
      EXPECT_EQ(&*first, &*second) << name;
      EXPECT_EQ(*first, *read_text_file(repo.at(name))) << name;
    }
    EXPECT_EQ(*read_text(repo.at("crlf.vhd")), "entity e is\nend;\n");
    EXPECT_FALSE(read_text(repo.at("missing.v")));
    // The bytes likewise, line ends as they are.
    EXPECT_EQ(&*read_bytes(repo.at("crlf.vhd")), &*read_bytes(repo.at("crlf.vhd")));
    EXPECT_EQ(*read_bytes(repo.at("crlf.vhd")), "entity e is\r\nend;\r\n");
    EXPECT_FALSE(read_bytes(repo.at("missing.v")));
  }
  FileText own = read_text(repo.at("crlf.vhd"));
  ASSERT_TRUE(own);
  EXPECT_NE(&*own, &*read_text(repo.at("crlf.vhd")));
  EXPECT_EQ(std::move(own).str(), "entity e is\nend;\n");
}

// A cached file is answered from memory; the confinement in force is part of
// the key, and the cache ends with its scope.
TEST(ScanTextCache, ReadsOncePerConfinementAndScope) {
  TempRepo repo;
  repo.write("a.v", "first\n");
  TempRepo outside;
  outside.write("b.v", "outside\n");
  std::filesystem::create_symlink(outside.at("b.v"), repo.at("b.v"));
  {
    ScanTextCache cache;
    {
      const ReadConfinement confinement(repo.path());
      EXPECT_EQ(read_text_file(repo.at("a.v")), "first\n");
      EXPECT_EQ(read_text_file(repo.at("b.v")), std::nullopt);
    }
    repo.write("a.v", "second\n");
    EXPECT_EQ(read_text_file(repo.at("b.v")), "outside\n");  // unconfined: another key
    const ReadConfinement confinement(repo.path());
    EXPECT_EQ(read_text_file(repo.at("a.v")), "first\n");  // one read per scan
    EXPECT_EQ(ScanTextCache::current(), &cache);
  }
  EXPECT_EQ(ScanTextCache::current(), nullptr);
  EXPECT_EQ(read_text_file(repo.at("a.v")), "second\n");
}

TEST(Regex, WithoutJitMatchesAlike) {
  for (unsigned flags : {unsigned(kNoFlags), unsigned(kIgnoreCase)}) {
    const Regex jit("\\b(module|entity)\\s+top_a\\b", flags);
    const Regex plain("\\b(module|entity)\\s+top_a\\b", flags | kNoJit);
    for (const char* subject : {"module top_a;", "ENTITY top_a is", "module top_ab;", "x entity  top_a\n"}) {
      const auto a = jit.search(subject);
      const auto b = plain.search(subject);
      ASSERT_EQ(a.has_value(), b.has_value()) << subject;
      if (a) EXPECT_EQ(a->group(1), b->group(1));
    }
  }
}

// Inside a scan a derived result is kept from the second question on, so a
// file asked once holds no copy; outside a scan it is computed on every call.
TEST(FileMemo, KeptFromTheSecondQuestionWithinAScan) {
  TempRepo repo;
  repo.write("a.v", "module a; endmodule\n");
  int computed = 0;
  static const FileMemoKey len, other;
  const auto length_of = [&](const std::string& rel, const FileMemoKey& key) {
    return *memo_per_file<std::size_t>(repo.at(rel), key, [&] {
      ++computed;
      return read_text_file(repo.at(rel)).value_or("").size();
    });
  };
  EXPECT_EQ(length_of("a.v", len), 20u);
  EXPECT_EQ(length_of("a.v", len), 20u);
  EXPECT_EQ(computed, 2);
  {
    ScanTextCache cache;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(length_of("a.v", len), 20u);
      EXPECT_EQ(length_of("a.v", other), 20u);
      EXPECT_EQ(length_of("missing.v", len), 0u);
    }
    EXPECT_EQ(computed, 2 + 3 * 2);
  }
}

}  // namespace
