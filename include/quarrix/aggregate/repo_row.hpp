#pragma once
// The repo row: every IP entry of a scan collapsed into one catalog row that
// publishes the whole repository as one package.

#include <string>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/repo/define_carriers.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// A list holding the repo row for `entries` (an array of IP entries; `roles`
// maps entity names to roles), or an empty list when there are no entries.
Json aggregate_repo_entry(const Json& entries, const Json& roles, const std::string& repo_path,
                          const RowIdentity& identity, const RowContext& context = {});

// The same within a scan: the define carriers and the vendor-variant
// candidates come from the scan's shared listing of the repository.
Json aggregate_repo_entry(const Json& entries, const Json& roles, repo::DefineCarrierIndex& carriers,
                          const RowIdentity& identity, const RowContext& context = {});

}  // namespace quarrix::aggregate
