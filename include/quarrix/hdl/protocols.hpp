#pragma once
// Bus protocols and interface patterns recognised from port-name tokens.
//
// Each signature lists lower-case marker tokens; it is detected when at least
// min_matches distinct markers are among the tokens: the name fragments plus
// the whole port names (a marker with "_" can only match a whole port name).

#include <set>
#include <string>
#include <vector>

namespace quarrix::hdl {

struct Signature {
  std::string id;
  std::vector<std::string> markers;
  int min_matches;
  std::string label;
};

// The 15 protocol signatures; their order is the order of results.
const std::vector<Signature>& protocol_signatures();
// The 6 interface patterns, in result order.
const std::vector<Signature>& interface_patterns();

// Protocol labels in table order. A unit reported as full AXI4 is never also
// reported as AXI4-Lite.
std::vector<std::string> detect_protocols(const std::set<std::string>& fragments,
                                          const std::vector<std::string>& port_names);

// Interface-pattern labels in table order; rows are independent.
std::vector<std::string> detect_interfaces(const std::set<std::string>& fragments,
                                           const std::vector<std::string>& port_names);

}  // namespace quarrix::hdl
