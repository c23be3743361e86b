#pragma once
// IP entries as the scan driver hands them to aggregation.

#include <string>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::testing {

struct EntrySpec {
  std::string name;
  std::vector<std::string> files;
  std::string language = "verilog";
  std::vector<std::string> tags = {};
  std::string description = "";
  std::string desc_source = "header";
};

inline Json make_entry(const EntrySpec& spec) {
  return Json{{"name", spec.name},
              {"namespace", "acme"},
              {"source", {{"type", "git"}, {"url", "u"}, {"tag", "t"}, {"ip_yml_path", "."}}},
              {"quarrix_compat", {{"language", spec.language}, {"library", "work"}, {"files", spec.files}}},
              {"description", spec.description},
              {"desc_source", spec.desc_source},
              {"license", ""},
              {"dep_count", spec.files.size()},
              {"vhdl_standard", spec.language},
              {"vendor_deps", Json::array()},
              {"verified", false},
              {"badges", Json::array()},
              {"test_info", Json::object()},
              {"tags", spec.tags}};
}

inline Json make_entries(const std::vector<EntrySpec>& specs) {
  Json entries = Json::array();
  for (const EntrySpec& spec : specs) entries.push_back(make_entry(spec));
  return entries;
}

}  // namespace quarrix::testing
