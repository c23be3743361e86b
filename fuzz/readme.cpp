// README description of a repository whose README.md holds the input.
#include <quarrix/aggregate/readme_description.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(readme) {
  (void)quarrix::aggregate::extract_readme_description(quarrix::fuzz::write_scratch("README.md", input));
}
