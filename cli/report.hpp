#pragma once
// The --report document of quarrix-scan: every design unit the scan found,
// kept or skipped and by which rule, the compile list of a kept unit and the
// tool runs that checked it.

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/probes/tool_run_record.hpp"
#include "quarrix/util/json.hpp"

namespace quarrix::cli {

class ScanReport {
 public:
  // Tool runs belong to the unit the scan decides on next: a kept unit's
  // checks run before the scan reports it.
  void tool_run(const probes::ToolRunRecord& run);
  void unit(const pipeline::UnitDecision& decision);
  void left_out(const std::string& path, const std::string& reason);

  // {"repository", "namespace", "summary", "units": [...], "left_out": [...]};
  // see the README.
  Json document(const std::string& repo, const std::string& ns, const Json& summary) const;

 private:
  Json units_ = Json::array();
  Json left_out_ = Json::array();
  std::vector<probes::ToolRunRecord> pending_;
  std::vector<std::pair<std::size_t, std::size_t>> missing_;  // (unit, run) whose cause names a unit
  // The units' names, and in lower case, with the languages that declare them.
  std::map<std::string, std::set<std::string>> declared_;
};

}  // namespace quarrix::cli
