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

void scan_repo_rows(const std::string& repo_path, std::string_view ns, std::string_view url, std::string_view tag,
                    std::string_view commit, const ScanProbes& probes, const ScanOptions& options,
                    const ScanContext& context, const RowSink& sink, ScanCounts* counts) {
  Scan scan(repo_path, {std::string(ns), std::string(url), std::string(tag), std::string(commit)}, probes, options,
            context);
  scan.run(sink);
  if (counts) *counts = scan.counts();
}

Json scan_repo(const std::string& repo_path, std::string_view ns, std::string_view url, std::string_view tag,
               std::string_view commit, const ScanProbes& probes, const ScanOptions& options,
               const ScanContext& context, ScanCounts* counts) {
  Json rows = Json::array();
  scan_repo_rows(
      repo_path, ns, url, tag, commit, probes, options, context,
      [&rows](Json&& row) { rows.push_back(std::move(row)); }, counts);
  return rows;
}

}  // namespace quarrix::pipeline
