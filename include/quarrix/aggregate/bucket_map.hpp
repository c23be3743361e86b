#pragma once
// The shape of a bucket map: {"buckets": {name: {"description", "prefixes"}}}.
// One check, which the command line, the batch manifest and the subproject
// rows all go through; each says a fault in its own words.

#include <optional>
#include <string>

#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

struct BucketMapFault {
  enum class Kind {
    kNotAMapping,         // the map itself
    kBucketsNotAMapping,  // "buckets" holds something else that is not empty
    kNoBuckets,           // "buckets" missing, null, empty or an empty value
    kBucketNotAMapping,   // a bucket's configuration
    kDescriptionNotText,  // a bucket's "description": neither a string nor null
    kPrefixesNotAList,    // a bucket's "prefixes"
    kPrefixNotText,       // an item of a bucket's "prefixes"
  };
  Kind kind;
  std::string bucket;  // the bucket at fault; empty for the map's own faults
};

// Which faults are looked for: the subproject rows check a description only
// where a bucket gets a row.
enum class DescriptionCheck { kEveryBucket, kNone };

// The first fault of `bucket_map`, in bucket order (a bucket's description
// before its prefixes), or none.
std::optional<BucketMapFault> find_bucket_map_fault(const Json& bucket_map,
                                                    DescriptionCheck descriptions = DescriptionCheck::kEveryBucket);

// A fault in the words of a bucket-map file's reader ("bucket 'x' must be a
// mapping"), without the file's name.
std::string bucket_map_fault_text(const BucketMapFault& fault);

}  // namespace quarrix::aggregate
