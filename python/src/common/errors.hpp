#pragma once
// The core's errors as Python exceptions: the one place that maps each kind.

namespace quarrix::py {

// Registers the translation for the calling extension module.
void register_core_errors();

}  // namespace quarrix::py
