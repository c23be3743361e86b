#pragma once
// What an entity's name says about it: a functional role phrase ("FIFO
// buffer", "receive engine") and a protocol named by one of its parts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarrix/util/regex.hpp"

namespace quarrix::hdl {

struct EntityRolePattern {
  std::string pattern;  // searched in the lower-cased name, no flags
  std::string role;
  util::Regex regex;
};

// The 40 rows, tried in order; the first hit wins.
const std::vector<EntityRolePattern>& entity_role_patterns();

// The role of the first row found in the lower-cased name, or nullopt.
std::optional<std::string> detect_entity_role(std::string_view entity_name);

// The first protocol label named by an underscore-separated part of the name:
// the part equals the lower-cased label, or its abbreviation expansion contains
// the lower-cased label without hyphens. Parts in name order, then table order.
std::optional<std::string> detect_entity_protocol(std::string_view entity_name);

}  // namespace quarrix::hdl
