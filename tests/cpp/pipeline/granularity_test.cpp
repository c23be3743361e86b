#include "quarrix/pipeline/granularity.hpp"

#include <gtest/gtest.h>

namespace quarrix::pipeline {
namespace {

TEST(Granularity, NamesAndWhatEachAsksOfTheScan) {
  for (const std::string_view name : kGranularities) EXPECT_TRUE(is_granularity(name)) << name;
  EXPECT_TRUE(is_granularity(kDefaultGranularity));
  EXPECT_TRUE(is_granularity(kEveryUnitGranularity));
  EXPECT_FALSE(is_granularity("module"));
  EXPECT_FALSE(is_granularity("Top"));

  EXPECT_TRUE(keeps_top_rows_only("top"));
  EXPECT_TRUE(gives_repo_row("repo"));
  EXPECT_TRUE(gives_subproject_rows("subproject"));
  EXPECT_TRUE(needs_bucket_map("subproject"));
  for (const std::string_view name : {"all", "other", ""}) {
    EXPECT_FALSE(keeps_top_rows_only(name)) << name;
    EXPECT_FALSE(gives_repo_row(name)) << name;
    EXPECT_FALSE(gives_subproject_rows(name)) << name;
    EXPECT_FALSE(needs_bucket_map(name)) << name;
  }
  EXPECT_FALSE(needs_bucket_map("top"));
  EXPECT_FALSE(needs_bucket_map("repo"));
}

}  // namespace
}  // namespace quarrix::pipeline
