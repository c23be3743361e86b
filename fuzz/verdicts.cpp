// The verdict registry loaded from the input, then asked for every key it holds.
#include <quarrix/describe/verdicts.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(verdicts) {
  using namespace quarrix;
  const Json verdicts = describe::load_description_verdicts(fuzz::write_scratch("descriptions_verdicts.json", input));
  if (!verdicts.is_object()) return;
  for (const auto& [key, value] : verdicts.items()) {
    const auto slash = key.find('/');
    const std::string_view k(key);
    (void)describe::verdict_locked_text(&verdicts, k.substr(0, slash == std::string::npos ? 0 : slash),
                                        slash == std::string::npos ? k : k.substr(slash + 1));
  }
  (void)describe::verdict_locked_text(&verdicts, "ns", "name");
}
