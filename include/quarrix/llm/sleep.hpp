#pragma once
// The one blocking pause of the language-model client (retry back-off and the
// pace between provider calls). Replaceable so that tests and hosts need not
// wait in real time.

#include <functional>

namespace quarrix::llm {

using SleepFunction = std::function<void(double seconds)>;

// Pauses through the installed sleep function. Values that are not finite or
// not positive are no pause at all.
void llm_sleep(double seconds);

// Blocks the calling thread for `seconds` of wall-clock time.
void real_sleep(double seconds);

// Installs `fn` (an empty function restores real_sleep) and returns the one it
// replaces. Safe to call from any thread.
SleepFunction set_sleep_function(SleepFunction fn);

}  // namespace quarrix::llm
