#pragma once
// The one blocking pause of the language-model client (retry back-off and the
// pace between provider calls). Callers pass it in, so that tests and hosts
// need not wait in real time.

#include <functional>

namespace quarrix::llm {

using SleepFunction = std::function<void(double seconds)>;

// Blocks the calling thread for `seconds` of wall-clock time. Values that are
// not finite or not positive are no pause at all.
void real_sleep(double seconds);

// Pauses through `sleep`; values that are not finite or not positive are no
// pause at all, and `sleep` is not called for them.
void pause_for(const SleepFunction& sleep, double seconds);

}  // namespace quarrix::llm
