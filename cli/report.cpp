#include "report.hpp"

namespace quarrix::cli {

void ScanReport::tool_run(const probes::ToolRunRecord& run) { pending_.push_back(run); }

void ScanReport::unit(const pipeline::UnitDecision& decision) {
  Json unit = Json::object();
  unit["name"] = decision.name;
  unit["path"] = decision.path;
  unit["kept"] = decision.skipped_by.empty();
  unit["skipped_by"] = decision.skipped_by.empty() ? Json(nullptr) : Json(decision.skipped_by);
  unit["compile_list"] = decision.compile_list;
  Json runs = Json::array();
  for (const probes::ToolRunRecord& run : pending_)
    runs.push_back({{"tool", run.tool},
                    {"verdict", run.verdict},
                    {"first_error", run.first_error},
                    {"seconds", run.seconds},
                    {"cached", run.cached}});
  pending_.clear();
  unit["tool_runs"] = std::move(runs);
  units_.push_back(std::move(unit));
}

void ScanReport::left_out(const std::string& path, const std::string& reason) {
  Json source = Json::object();
  source["path"] = path;
  source["reason"] = reason;
  left_out_.push_back(std::move(source));
}

Json ScanReport::document(const std::string& repo, const std::string& ns, const Json& summary) const {
  Json doc = Json::object();
  doc["repository"] = repo;
  doc["namespace"] = ns;
  doc["summary"] = summary;
  doc["units"] = units_;
  doc["left_out"] = left_out_;
  return doc;
}

}  // namespace quarrix::cli
