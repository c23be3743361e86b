#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "quarrix/util/directory.hpp"
#include "support/temp_repo.hpp"

namespace {

using quarrix::testing::TempRepo;
using namespace quarrix::util;

std::vector<std::pair<std::string, EntryKind>> entries_of(const std::string& dir) {
  std::vector<std::pair<std::string, EntryKind>> out;
  const auto listing = list_directory(dir);
  for (const DirectoryEntry& e : *listing) out.emplace_back(e.name, e.kind);
  return out;
}

// Every kind of entry is told apart without opening anything, in byte order.
TEST(ListDirectory, KindsInNameOrder) {
  TempRepo repo;
  repo.write("b.v", "module b; endmodule\n");
  repo.write("sub/x.v", "");
  ASSERT_EQ(mkfifo(repo.at("fifo.v").c_str(), 0600), 0);
  std::filesystem::create_directory_symlink(repo.at("sub"), repo.at("to_dir"));
  std::filesystem::create_symlink(repo.at("b.v"), repo.at("a_link.v"));
  std::filesystem::create_symlink(repo.at("missing"), repo.at("dangling.v"));
  std::filesystem::create_symlink(repo.at("loop.v"), repo.at("loop.v"));
  std::filesystem::create_symlink(repo.at("fifo.v"), repo.at("to_fifo.v"));
  repo.write("B_upper.v", "");
  repo.write("caf\xc3\xa9.v", "");

  const std::vector<std::pair<std::string, EntryKind>> expected = {
      {"B_upper.v", EntryKind::regular},
      {"a_link.v", EntryKind::link_to_regular},
      {"b.v", EntryKind::regular},
      {"caf\xc3\xa9.v", EntryKind::regular},
      {"dangling.v", EntryKind::link_to_other},
      {"fifo.v", EntryKind::special},
      {"loop.v", EntryKind::link_to_other},
      {"sub", EntryKind::directory},
      {"to_dir", EntryKind::link_to_directory},
      {"to_fifo.v", EntryKind::link_to_other},
  };
  EXPECT_EQ(entries_of(repo.path()), expected);
  EXPECT_EQ(entries_of(repo.path() + "/to_dir"),
            (std::vector<std::pair<std::string, EntryKind>>{{"x.v", EntryKind::regular}}));
  EXPECT_TRUE(entries_of(repo.path() + "/b.v").empty());
  EXPECT_TRUE(entries_of(repo.path() + "/fifo.v").empty());  // not opened, so no hang
  EXPECT_TRUE(entries_of(repo.path() + "/missing").empty());
}

// Within a scan a directory is read once, whatever the spelling of its path;
// outside one every call reads afresh.
TEST(ListDirectory, OncePerScan) {
  TempRepo repo;
  repo.write("a.v", "");
  {
    const ScanDirectoryCache cache;
    const auto first = list_directory(repo.path());
    repo.write("b.v", "");
    EXPECT_EQ(list_directory(repo.path() + "//./"), first);
    EXPECT_EQ(first->size(), 1u);
  }
  EXPECT_EQ(ScanDirectoryCache::current(), nullptr);
  EXPECT_EQ(list_directory(repo.path())->size(), 2u);
}

}  // namespace
