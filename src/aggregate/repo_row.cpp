#include <quarrix/aggregate/repo_row.hpp>

#include <algorithm>
#include <optional>
#include <unordered_set>

#include <quarrix/aggregate/readme_description.hpp>
#include <quarrix/describe/suspect.hpp>
#include <quarrix/describe/verdicts.hpp>
#include <quarrix/license/license.hpp>
#include <quarrix/repo/vendor_variants.hpp>
#include <quarrix/util/text.hpp>

#include "row_builder.hpp"

namespace quarrix::aggregate {

namespace {

// ".../fifo-cores.git/" -> "fifo-cores".
std::string repository_name(std::string_view url) {
  std::string_view name = util::rstrip(url, "/");
  if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (util::ends_with(name, ".git")) name.remove_suffix(4);
  return std::string(name);
}

// Carriers first, in the order found; the rest keeps its order.
void put_carriers_first(std::vector<std::string>& files, std::vector<std::string> carriers) {
  if (carriers.empty()) return;
  const std::unordered_set<std::string> is_carrier(carriers.begin(), carriers.end());
  for (std::string& path : files)
    if (!is_carrier.count(path)) carriers.push_back(std::move(path));
  files = std::move(carriers);
}

// Every regular HDL file of the repository, grouped by extension, each group in
// path order.
std::vector<std::string> variant_candidates(repo::RepoTree& tree) {
  std::vector<std::string> candidates;
  for (const auto& group : tree.listing()) candidates.insert(candidates.end(), group.begin(), group.end());
  return candidates;
}

// The row's description, first success wins: the curator's locked verdict, the
// README's first paragraph unless the validator rejects it, the first top
// entity's description, and last a filler.
void describe_repository(detail::RowHead& head, const std::string& repo_path, const std::vector<const Json*>& tops,
                         const RowContext& context) {
  if (std::optional<std::string> locked =
          describe::verdict_locked_text(context.description_verdicts, head.ns, head.name)) {
    head.description = std::move(*locked);
    head.desc_source = "verdict";
    return;
  }
  std::optional<std::string> readme = extract_readme_description(repo_path);
  if (readme && !readme->empty() && context.is_suspect(*readme, std::nullopt, std::string(head.ns))) readme.reset();
  head.description = readme.value_or("");
  head.desc_source = "readme";
  if (!util::py_truthy(head.description) && !tops.empty()) {
    head.description = detail::field_or(*tops.front(), "description", "");
    head.desc_source = detail::field_or(*tops.front(), "desc_source", "auto");
  }
  if (!util::py_truthy(head.description)) {
    head.description = std::string(head.ns) + " IP library";
    head.desc_source = "auto";
  }
}

}  // namespace

Json aggregate_repo_entry(const Json& entries, const Json& roles, repo::DefineCarrierIndex& carriers,
                          const RowIdentity& identity, const RowContext& context) {
  if (entries.empty()) return Json::array();
  const std::string& repo_path = carriers.tree().root();
  const detail::TopIndex top_index(roles);
  const std::vector<const Json*> tops = detail::top_entities(entries, top_index);

  std::vector<std::string> files = detail::union_of_files(entries);
  put_carriers_first(files, repo::collect_define_carriers(carriers, files));

  detail::RowHead head{repository_name(identity.url),      identity.ns, identity.url, identity.tag, nullptr, nullptr,
                       license::detect_license(repo_path), "repo"};
  describe_repository(head, repo_path, tops, context);

  const Json variants = repo::detect_vendor_variants(repo_path, variant_candidates(carriers.tree()));
  if (!variants.empty()) {
    std::unordered_set<std::string> variant_paths;
    for (const auto& [vendor, paths] : variants.items())
      for (const Json& path : paths) variant_paths.insert(path.get<std::string>());
    std::erase_if(files, [&](const std::string& path) { return variant_paths.count(path) != 0; });
  }

  Json rows = Json::array();
  rows.push_back(detail::build_row(entries, top_index, head, std::move(files), context.tag_cap));
  if (!variants.empty()) rows[0]["hdl"] = Json{{"vendor_variants", variants}};
  return rows;
}

Json aggregate_repo_entry(const Json& entries, const Json& roles, const std::string& repo_path,
                          const RowIdentity& identity, const RowContext& context) {
  repo::RepoTree tree(repo_path);
  repo::DefineCarrierIndex carriers(tree);
  return aggregate_repo_entry(entries, roles, carriers, identity, context);
}

}  // namespace quarrix::aggregate
