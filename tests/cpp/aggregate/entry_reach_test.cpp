// Who is depended on, and what a top reaches, on small use graphs whose nodes
// are entries or units that are none (packages, left-out units).

#include <gtest/gtest.h>

#include "quarrix/aggregate/entry_reach.hpp"

using namespace quarrix;

namespace {

resolver::UseGraph graph(std::vector<std::vector<std::uint32_t>> uses) { return {std::move(uses), {}}; }

}  // namespace

TEST(EntryReach, DependedOnThroughUnitsThatAreNoEntries) {
  // Entries 0..4 are nodes 0..4; nodes 5, 6 and 7 are no entries.
  // 0 -> 5 -> {1, 3}: used through a package.
  // 2 -> 7 -> 2: only itself reaches 2.
  // 4 -> 6 -> 3: 3 is reached from two entries.
  const auto g = graph({{5}, {}, {7}, {}, {6}, {1, 3}, {3}, {2}});
  aggregate::EntryReach reach(g, {0, 1, 2, 3, 4});
  EXPECT_EQ(reach.depended_on(), (std::vector<bool>{false, true, false, true, false}));
  EXPECT_EQ(reach.reached_from(0), (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(reach.reached_from(4), (std::vector<std::size_t>{3}));
  EXPECT_TRUE(reach.reached_from(2).empty());
}

TEST(EntryReach, EntriesOfOneNodeAndEntriesOutsideTheGraph) {
  // Entries 0 and 1 share node 0 (one name twice); entry 2 is on no node.
  const auto g = graph({{1}, {0}});
  aggregate::EntryReach reach(g, {0, 0, aggregate::EntryReach::kNoNode, 1});
  EXPECT_EQ(reach.depended_on(), (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(reach.reached_from(0), (std::vector<std::size_t>{3}));
  EXPECT_TRUE(reach.reached_from(2).empty());
}
