#include "report.hpp"

#include "quarrix/hdl/language.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::cli {

namespace {

// GHDL writes the names it misses in lower case.
std::string unit_key(const std::string& tool, const std::string& name) {
  return tool == "ghdl" ? util::ascii_lower(name) : name;
}

bool names_a_unit(const std::string& kind) { return kind == "missing unit" || kind == "missing package"; }

}  // namespace

void ScanReport::tool_run(const probes::ToolRunRecord& run) { pending_.push_back(run); }

void ScanReport::unit(const pipeline::UnitDecision& decision) {
  Json unit = Json::object();
  unit["name"] = decision.name;
  unit["path"] = decision.path;
  unit["kept"] = decision.skipped_by.empty();
  unit["skipped_by"] = decision.skipped_by.empty() ? Json(nullptr) : Json(decision.skipped_by);
  unit["compile_list"] = decision.compile_list;
  if (!decision.from_dependencies.empty()) {
    Json taken = Json::array();
    for (const pipeline::DependencyFile& file : decision.from_dependencies)
      taken.push_back({{"namespace", file.ns}, {"file", file.file}, {"units", file.units}});
    unit["from_dependencies"] = std::move(taken);
  }
  Json runs = Json::array();
  for (const probes::ToolRunRecord& run : pending_) {
    Json cause = nullptr;
    if (run.cause) {
      cause = {{"kind", run.cause->kind}};
      if (!run.cause->name.empty()) cause["name"] = run.cause->name;
      if (names_a_unit(run.cause->kind)) missing_.push_back({units_.size(), runs.size()});
    }
    runs.push_back({{"tool", run.tool},
                    {"verdict", run.verdict},
                    {"first_error", run.first_error},
                    {"seconds", run.seconds},
                    {"cached", run.cached},
                    {"cause", std::move(cause)}});
  }
  pending_.clear();
  unit["tool_runs"] = std::move(runs);
  units_.push_back(std::move(unit));
  const auto language = hdl::language_of_path(decision.path);
  const std::string in = language == hdl::HdlLanguage::vhdl ? "vhdl" : "verilog";
  declared_[decision.name].insert(in);
  declared_[util::ascii_lower(decision.name)].insert(in);
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
  // Whether a missing unit is the repository's own is known once every unit is.
  Json units = units_;
  for (const auto& [unit, run] : missing_) {
    Json& r = units[unit]["tool_runs"][run];
    Json& cause = r["cause"];
    const std::string name = cause.value("name", "");
    const std::string tool = r["tool"].get<std::string>();
    const auto found = name.empty() ? declared_.end() : declared_.find(unit_key(tool, name));
    cause["declared"] = found != declared_.end();
    // Declared only in the language the tool does not read: a mixed-language
    // design, which no single tool here checks.
    const std::string reads = tool == "ghdl" ? "vhdl" : "verilog";
    if (found != declared_.end() && !found->second.count(reads)) cause["declared_in"] = *found->second.begin();
  }
  doc["units"] = std::move(units);
  doc["left_out"] = left_out_;
  return doc;
}

}  // namespace quarrix::cli
