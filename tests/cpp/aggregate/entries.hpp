#pragma once
// IP entries as the scan driver hands them to aggregation.

#include <string>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::testing {

struct EntryFields {
  std::string name;
  std::vector<std::string> files;
  std::string language = "verilog";
  std::vector<std::string> tags = {};
  std::string description = "";
  std::string desc_source = "header";
};

inline Json make_entry(const EntryFields& fields) {
  return Json{{"name", fields.name},
              {"namespace", "acme"},
              {"source", {{"type", "git"}, {"url", "u"}, {"tag", "t"}, {"ip_yml_path", "."}}},
              {"quarrix_compat", {{"language", fields.language}, {"library", "work"}, {"files", fields.files}}},
              {"description", fields.description},
              {"desc_source", fields.desc_source},
              {"license", ""},
              {"dep_count", fields.files.size()},
              {"vhdl_standard", fields.language},
              {"vendor_deps", Json::array()},
              {"verified", false},
              {"badges", Json::array()},
              {"test_info", Json::object()},
              {"tags", fields.tags}};
}

inline Json make_entries(const std::vector<EntryFields>& rows) {
  Json entries = Json::array();
  for (const EntryFields& fields : rows) entries.push_back(make_entry(fields));
  return entries;
}

}  // namespace quarrix::testing
