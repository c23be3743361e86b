#pragma once
// What building an aggregated row takes from its caller besides the entries:
// who the row is from, the tag cap, the description validator and the
// curator's verdicts.

#include <string_view>

#include <quarrix/describe/suspect.hpp>
#include <quarrix/tags/tags.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// The repository the row publishes: its index namespace, URL and tag.
struct RowIdentity {
  std::string_view ns;
  std::string_view url;
  std::string_view tag;
};

struct RowContext {
  long long tag_cap = tags::kTagCapDefault;
  describe::SuspectFn is_suspect = describe::native_is_suspect;
  const Json* description_verdicts = nullptr;  // map "namespace/name" -> verdict; may be null
};

}  // namespace quarrix::aggregate
