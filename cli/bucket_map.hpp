#pragma once
// Reading the subproject bucket map given with --bucket-map.

#include <string>

#include <quarrix/util/json.hpp>

namespace quarrix::cli {

// The bucket map of `file`: JSON when the name ends in ".json", otherwise YAML
// (plain scalars typed as in YAML 1.2: null, true/false, integers, floats,
// else strings). Throws UsageError naming the file when it cannot be read,
// does not parse, nests deeper than util::kMaxJsonDepth levels, grows huge
// through YAML aliases, or does not have the bucket-map shape: a mapping whose
// "buckets" is a non-empty mapping of bucket name -> mapping with an optional
// "description" (string or null) and optional "prefixes" (list of strings).
Json load_bucket_map(const std::string& file);

}  // namespace quarrix::cli
