#include <quarrix/aggregate/bucket_map.hpp>

namespace quarrix::aggregate {

namespace {

using Kind = BucketMapFault::Kind;

std::optional<Kind> bucket_fault(const Json& config, DescriptionCheck descriptions) {
  if (!config.is_object()) return Kind::kBucketNotAMapping;
  if (descriptions == DescriptionCheck::kEveryBucket)
    if (const auto d = config.find("description"); d != config.end() && !d->is_string() && !d->is_null())
      return Kind::kDescriptionNotText;
  if (const auto prefixes = config.find("prefixes"); prefixes != config.end()) {
    if (!prefixes->is_array()) return Kind::kPrefixesNotAList;
    for (const Json& prefix : *prefixes)
      if (!prefix.is_string()) return Kind::kPrefixNotText;
  }
  return std::nullopt;
}

}  // namespace

std::optional<BucketMapFault> find_bucket_map_fault(const Json& bucket_map, DescriptionCheck descriptions) {
  if (!bucket_map.is_object()) return BucketMapFault{Kind::kNotAMapping, ""};
  const auto found = bucket_map.find("buckets");
  if (found == bucket_map.end() || !util::py_truthy(*found)) return BucketMapFault{Kind::kNoBuckets, ""};
  if (!found->is_object()) return BucketMapFault{Kind::kBucketsNotAMapping, ""};
  for (const auto& [name, config] : found->items())
    if (const std::optional<Kind> kind = bucket_fault(config, descriptions)) return BucketMapFault{*kind, name};
  return std::nullopt;
}

std::string bucket_map_fault_text(const BucketMapFault& fault) {
  switch (fault.kind) {
    case Kind::kNotAMapping: return "expected a mapping with a \"buckets\" key";
    case Kind::kBucketsNotAMapping:
    case Kind::kNoBuckets: return "\"buckets\" must be a non-empty mapping of bucket name -> {description, prefixes}";
    case Kind::kBucketNotAMapping: return "bucket '" + fault.bucket + "' must be a mapping";
    case Kind::kDescriptionNotText: return "the description of bucket '" + fault.bucket + "' must be a string";
    case Kind::kPrefixesNotAList:
    case Kind::kPrefixNotText: return "the prefixes of bucket '" + fault.bucket + "' must be a list of strings";
  }
  return "";
}

}  // namespace quarrix::aggregate
