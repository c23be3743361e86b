#pragma once
// What building an aggregated row takes from its caller besides the entries:
// the tag cap and the description validator.

#include <quarrix/describe/suspect.hpp>
#include <quarrix/tags/tags.hpp>

namespace quarrix::aggregate {

struct RowContext {
  long long tag_cap = tags::kTagCapDefault;
  describe::SuspectFn is_suspect = describe::native_is_suspect;
};

}  // namespace quarrix::aggregate
