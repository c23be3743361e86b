#pragma once
// The repo row: every IP entry of a scan collapsed into one catalog row that
// publishes the whole repository as one package.

#include <string>
#include <string_view>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/repo/define_carriers.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// A list holding the repo row for `entries` (an array of IP entries; `roles`
// maps entity names to roles), or an empty list when there are no entries.
// `description_verdicts` may be null.
Json aggregate_repo_entry(const Json& entries, const Json& roles, const std::string& repo_path, std::string_view ns,
                          std::string_view url, std::string_view tag, const Json* description_verdicts = nullptr,
                          const RowContext& context = {});

// The same within a scan: the define carriers and the vendor-variant
// candidates come from the scan's shared listing of the repository.
Json aggregate_repo_entry(const Json& entries, const Json& roles, repo::DefineCarrierIndex& carriers,
                          std::string_view ns, std::string_view url, std::string_view tag,
                          const Json* description_verdicts = nullptr, const RowContext& context = {});

}  // namespace quarrix::aggregate
