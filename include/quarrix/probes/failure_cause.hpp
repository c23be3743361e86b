#pragma once
// Why a tool check failed, read from the tool's own words.

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::probes {

struct FailureCause {
  // "missing unit", "missing include", "missing package", "vendor primitive",
  // "tool limitation", "syntax", "budget", "timeout" or "memory".
  std::string kind;
  // The unit, header, package, vendor cell or library the tool names; "" for
  // the other kinds.
  std::string name;
};

// The cause of a run with `verdict` (see ToolRunRecord) and error output
// `err`, from Verilator's, Icarus's and GHDL's messages: the first line that
// one of the rules matches decides, and a tool's rejection that no rule knows
// is "syntax". A missing unit is a vendor primitive only when every unit the
// output misses is a vendor cell (vendor_primitive_rules(), or a unit of a
// vendor library). nullopt for a run that passed or was not started.
std::optional<FailureCause> failure_cause(std::string_view verdict, std::string_view err);

}  // namespace quarrix::probes
