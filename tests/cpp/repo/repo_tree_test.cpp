#include <quarrix/repo/repo_tree.hpp>

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace {

using quarrix::repo::range_below;
using quarrix::repo::RepoTree;
using quarrix::testing::TempRepo;
using Paths = std::vector<std::string>;

TEST(RepoTree, ListsRegularHdlFilesLikeRglob) {
  TempRepo repo;
  for (const char* rel : {"rtl/b.v", "rtl/a.v", "rtl-x/c.v", "rtl/sub/d.v", ".hidden/e.v", "f.vhdl", "g.vhd", "h.svh",
                          "i.V", "j.v.bak", "k.sv", "l.vh", "notes.txt", ".v"})
    repo.write(rel, "x");
  std::filesystem::create_directories(repo.at("dir.v"));
  ASSERT_EQ(mkfifo(repo.at("pipe.v").c_str(), 0600), 0);
  std::filesystem::create_symlink("rtl/a.v", repo.at("link.v"));
  std::filesystem::create_symlink("gone.v", repo.at("dangling.v"));
  repo.write("outside/o.v", "x");
  std::filesystem::create_directory_symlink(repo.at("outside"), repo.at("linked"));

  RepoTree tree(repo.path());
  const auto& listing = tree.listing();
  EXPECT_EQ(listing[0],
            (Paths{".hidden/e.v", ".v", "link.v", "outside/o.v", "rtl/a.v", "rtl/b.v", "rtl/sub/d.v", "rtl-x/c.v"}));
  EXPECT_EQ(listing[1], Paths{"k.sv"});
  EXPECT_EQ(listing[2], Paths{"l.vh"});
  EXPECT_EQ(listing[3], Paths{"h.svh"});
  EXPECT_EQ(listing[4], Paths{"g.vhd"});
  EXPECT_EQ(listing[5], Paths{"f.vhdl"});

  // A walk from a linked directory follows the link at its start.
  const RepoTree::Walk linked = tree.walk_from("linked");
  EXPECT_FALSE(linked.shared);
  EXPECT_EQ((*linked.listing)[0], Paths{"linked/o.v"});
  const RepoTree::Walk rtl = tree.walk_from("rtl");
  EXPECT_TRUE(rtl.shared);
  EXPECT_EQ(rtl.below, "rtl");
}

TEST(RepoTree, RangeBelowIsComponentWise) {
  const Paths sorted = {"a/x.v", "rtl/a.v", "rtl/sub/c.v", "rtl-x/b.v", "rtl.d/e.v", "rtlz.v"};
  const auto slice = [&](std::string_view dir) {
    const auto [first, last] = range_below(sorted, dir);
    return Paths(sorted.begin() + static_cast<std::ptrdiff_t>(first),
                 sorted.begin() + static_cast<std::ptrdiff_t>(last));
  };
  EXPECT_EQ(slice(""), sorted);
  EXPECT_EQ(slice("rtl"), (Paths{"rtl/a.v", "rtl/sub/c.v"}));
  EXPECT_EQ(slice("rtl/sub"), Paths{"rtl/sub/c.v"});
  EXPECT_EQ(slice("rtl-x"), Paths{"rtl-x/b.v"});
  EXPECT_EQ(slice("b"), Paths{});
}

}  // namespace
