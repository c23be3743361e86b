#include "say.hpp"

#include <cstdio>
#include <string>

#include "quarrix/util/terminal_text.hpp"

namespace quarrix::cli {

void say(std::string_view text) {
  const std::string line = "quarrix-scan: " + util::terminal_safe(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace quarrix::cli
