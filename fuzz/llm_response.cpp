// Cleaning of a language model's answer.
#include <quarrix/llm/prompt.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(llm_response) { (void)quarrix::llm::clean_llm_response(quarrix::util::decode_text(input)); }
