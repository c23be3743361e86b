#pragma once
// quarrix-scan's lines on standard error. Names and messages there come from
// the scanned repository, the tools and remote services: each line is
// written terminal-safe, whatever it holds.

#include <string_view>

namespace quarrix::cli {

// "quarrix-scan: " + text, control characters escaped, and a newline.
void say(std::string_view text);

}  // namespace quarrix::cli
