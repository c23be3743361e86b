#include <quarrix/aggregate/bucket_map.hpp>

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

using quarrix::Json;
using quarrix::aggregate::bucket_map_fault_text;
using quarrix::aggregate::BucketMapFault;
using quarrix::aggregate::DescriptionCheck;
using quarrix::aggregate::find_bucket_map_fault;
using Kind = BucketMapFault::Kind;

std::optional<Kind> kind_of(const char* map, DescriptionCheck descriptions = DescriptionCheck::kEveryBucket) {
  const auto fault = find_bucket_map_fault(Json::parse(map), descriptions);
  return fault ? std::optional<Kind>(fault->kind) : std::nullopt;
}

TEST(BucketMap, FaultsOfTheMapItself) {
  EXPECT_EQ(kind_of("[]"), Kind::kNotAMapping);
  // Empty or falsy "buckets" is no bucket at all; anything else that is not a mapping is a wrong type.
  for (const char* empty : {"{}", R"({"buckets": null})", R"({"buckets": {}})", R"({"buckets": []})",
                            R"({"buckets": 0})", R"({"buckets": ""})"})
    EXPECT_EQ(kind_of(empty), Kind::kNoBuckets) << empty;
  EXPECT_EQ(kind_of(R"({"buckets": [1]})"), Kind::kBucketsNotAMapping);
  EXPECT_EQ(kind_of(R"({"buckets": {"a": {}, "b": {"prefixes": [], "description": null}}})"), std::nullopt);
}

TEST(BucketMap, TheFirstBucketAtFaultAndItsDescriptionBeforeItsPrefixes) {
  const char* map = R"({"buckets": {"ok": {"prefixes": ["a_"]}, "x": {"description": 1, "prefixes": "b_"},
                                    "y": [1]}})";
  const auto fault = find_bucket_map_fault(Json::parse(map));
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->kind, Kind::kDescriptionNotText);
  EXPECT_EQ(bucket_map_fault_text(*fault), "the description of bucket 'x' must be a string");
  // Without the descriptions, the same bucket's prefixes are its fault.
  EXPECT_EQ(kind_of(map, DescriptionCheck::kNone), Kind::kPrefixesNotAList);
  EXPECT_EQ(kind_of(R"({"buckets": {"x": {"prefixes": ["a", 2]}}})"), Kind::kPrefixNotText);
  EXPECT_EQ(bucket_map_fault_text(*find_bucket_map_fault(Json::parse(R"({"buckets": {"y": 3}})"))),
            "bucket 'y' must be a mapping");
}

}  // namespace
