#include "quarrix/pipeline/scan_repo.hpp"

#include "quarrix/pipeline/scan.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::pipeline {

std::vector<std::string> source_roots(const std::string& repo_path) {
  std::vector<std::string> roots;
  for (const char* name : {"src", "hdl", "rtl"}) {
    const std::string dir = util::join_path(repo_path, name);
    if (util::is_directory(dir)) roots.push_back(dir);
  }
  if (roots.empty()) roots.push_back(repo_path);
  return roots;
}

Json scan_repo(const std::string& repo_path, const ScanIdentity& identity, const ScanProbes& probes,
               const ScanOptions& options, const ScanContext& context, ScanCounts* counts) {
  Json rows = Json::array();
  Scan scan(repo_path, identity, probes, options, context);
  scan.run([&rows](Json&& row) { rows.push_back(std::move(row)); });
  if (counts) *counts = scan.counts();
  return rows;
}

}  // namespace quarrix::pipeline
