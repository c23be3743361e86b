#pragma once
// Everything a scan takes from outside besides the repository and its options:
// the settings, read once, and the replaceable services. The command-line
// scanner fills it from its options and the environment; the Python binding
// from the environment at each call.

#include <quarrix/describe/services.hpp>
#include <quarrix/llm/chain.hpp>
#include <quarrix/probes/tool_session.hpp>
#include <quarrix/tags/tags.hpp>

namespace quarrix::pipeline {

struct ScanSettings {
  long long tag_cap = tags::kTagCapDefault;
  llm::ChainSettings llm;
  // The limits of the built-in tool checks (see default_probes).
  probes::ToolLimits tools;

  // QUARRIX_TAG_CAP, QUARRIX_LLM_PROVIDERS, QUARRIX_LLM_PACE, the providers'
  // API keys and QUARRIX_TOOL_TIMEOUT, read now; the rest at its defaults.
  static ScanSettings from_environment();
};

struct ScanContext {
  ScanSettings settings;
  describe::Services services;

  // The settings from the environment with our own services.
  static ScanContext from_environment() { return {ScanSettings::from_environment(), {}}; }
};

}  // namespace quarrix::pipeline
