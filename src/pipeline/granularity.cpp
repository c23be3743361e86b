#include "quarrix/pipeline/granularity.hpp"

#include <algorithm>

namespace quarrix::pipeline {

bool is_granularity(std::string_view name) {
  return std::find(kGranularities.begin(), kGranularities.end(), name) != kGranularities.end();
}

bool keeps_top_rows_only(std::string_view granularity) { return granularity == "top"; }

bool gives_repo_row(std::string_view granularity) { return granularity == "repo"; }

bool gives_subproject_rows(std::string_view granularity) { return granularity == "subproject"; }

bool needs_bucket_map(std::string_view granularity) { return gives_subproject_rows(granularity); }

}  // namespace quarrix::pipeline
