#include "quarrix/hdl/entity_name.hpp"

#include <utility>

#include "quarrix/hdl/abbreviations.hpp"
#include "quarrix/hdl/protocols.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::hdl {

namespace {

std::vector<EntityRolePattern> build_role_patterns() {
  static const std::pair<const char*, const char*> rows[] = {
      {"arbiter|arb(?:_|$)", "arbiter"},
      {"demux", "demultiplexer"},
      {"mux", "multiplexer"},
      {"fifo", "FIFO buffer"},
      {"bridge", "bridge"},
      {"adapter", "adapter"},
      {"crossbar|xbar", "crossbar switch"},
      {"cdc", "clock domain crossing"},
      {"sync(?:hronizer)?(?:_|$)", "synchronizer"},
      {"ctrl|controller", "controller"},
      {"gen(?:erator)?(?:_|$)", "generator"},
      {"conv(?:erter)?(?:_|$)", "converter"},
      {"wrapper|wrap(?:_|$)", "wrapper"},
      {"slave", "slave"},
      {"master", "master"},
      {"ram(?:_|$)", "RAM"},
      {"rom(?:_|$)", "ROM"},
      {"reg(?:ister)?_?(?:file|bank)", "register file"},
      {"filter", "filter"},
      {"counter|cnt(?:_|$)", "counter"},
      {"timer", "timer"},
      {"divider|div(?:_|$)", "divider"},
      {"pwm", "PWM generator"},
      {"watchdog|wdt", "watchdog timer"},
      {"decoder|dec(?:_|$)", "decoder"},
      {"encoder|enc(?:_|$)", "encoder"},
      {"buffer|buf(?:_|$)", "buffer"},
      {"splitter", "splitter"},
      {"merger|merge(?:_|$)", "merger"},
      {"desc(?:riptor)?_(?:rd|wr|fetch|mgr)", "descriptor engine"},
      {"cpl(?:_wr|_rd|etion)", "completion handler"},
      {"dp_mgr|datapath", "datapath manager"},
      {"cmd_mbox|mailbox", "command mailbox"},
      {"queue_state|q_mgr", "queue state manager"},
      {"rx(?:_engine|_path)?$", "receive engine"},
      {"tx(?:_engine|_path)?$", "transmit engine"},
      {"scheduler|sched(?:_|$)", "scheduler"},
      {"dma_client", "DMA client"},
      {"rate_limit", "rate limiter"},
      {"psdpram", "pseudo dual-port RAM"},
  };
  std::vector<EntityRolePattern> patterns;
  patterns.reserve(std::size(rows));
  for (const auto& [pattern, role] : rows) patterns.push_back({pattern, role, util::Regex(pattern)});
  return patterns;
}

}  // namespace

const std::vector<EntityRolePattern>& entity_role_patterns() {
  static const std::vector<EntityRolePattern> patterns = build_role_patterns();
  return patterns;
}

std::optional<std::string> detect_entity_role(std::string_view entity_name) {
  const std::string name = util::lower(entity_name);
  for (const EntityRolePattern& row : entity_role_patterns())
    if (row.regex.search(name)) return row.role;
  return std::nullopt;
}

std::optional<std::string> detect_entity_protocol(std::string_view entity_name) {
  // Each label lower-cased, and lower-cased without its hyphens.
  static const std::vector<std::pair<std::string, std::string>> label_forms = [] {
    std::vector<std::pair<std::string, std::string>> forms;
    for (const Signature& row : protocol_signatures()) {
      const std::string lowered = util::lower(row.label);
      forms.emplace_back(lowered, util::replace_all(lowered, "-", ""));
    }
    return forms;
  }();
  for (const std::string& part : util::split(util::lower(entity_name), "_")) {
    const std::string* expansion = hdl::abbreviation_lookup(part);
    for (std::size_t i = 0; i < label_forms.size(); ++i) {
      const auto& [lowered, unhyphenated] = label_forms[i];
      if (lowered == part || (expansion && util::contains(*expansion, unhyphenated)))
        return protocol_signatures()[i].label;
    }
  }
  return std::nullopt;
}

}  // namespace quarrix::hdl
