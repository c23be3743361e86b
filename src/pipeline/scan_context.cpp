#include "quarrix/pipeline/scan_context.hpp"

namespace quarrix::pipeline {

ScanSettings ScanSettings::from_environment() {
  ScanSettings settings;
  settings.tag_cap = tags::resolve_tag_cap();
  settings.llm = llm::ChainSettings::from_environment();
  settings.tools.run_timeout = probes::tool_timeout();
  return settings;
}

}  // namespace quarrix::pipeline
