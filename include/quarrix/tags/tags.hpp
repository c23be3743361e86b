#pragma once
// Search tags from an entity's own name and vendor dependencies.

#include <string>
#include <string_view>
#include <vector>

namespace quarrix::tags {

inline constexpr long long kTagCapDefault = 12;

// Words that are never tags, in their defined order.
const std::vector<std::string>& tag_stopwords();
bool is_tag_stopword(std::string_view word);

// The cap from QUARRIX_TAG_CAP (read now), or kTagCapDefault.
long long resolve_tag_cap();

// At most `cap` tags, alphabetical; when over the cap the shortest go first.
std::vector<std::string> cap_tags(std::vector<std::string> tags, long long cap = kTagCapDefault);

// At most `cap` tags, as cap_tags() keeps them.
std::vector<std::string> generate_tags(std::string_view entity_name, const std::vector<std::string>& vendor_deps,
                                       long long cap = kTagCapDefault);

}  // namespace quarrix::tags
