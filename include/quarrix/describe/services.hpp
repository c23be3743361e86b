#pragma once
// The replaceable services of a description: the validator, the provider call
// and the pause. Our own by default; a host or a test passes its own.

#include <quarrix/describe/suspect.hpp>
#include <quarrix/llm/chain.hpp>

namespace quarrix::describe {

struct Services {
  SuspectFn is_suspect = native_is_suspect;
  llm::ChainServices llm;
};

}  // namespace quarrix::describe
