#include "quarrix/describe/port_inference.hpp"

#include <algorithm>
#include <set>

#include "quarrix/hdl/abbreviations.hpp"
#include "quarrix/hdl/entity_name.hpp"
#include "quarrix/hdl/port_names.hpp"
#include "quarrix/hdl/protocols.hpp"
#include "quarrix/repo/filters.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/text.hpp"
#include "quarrix/util/text_hygiene.hpp"

namespace quarrix::describe {

namespace {

// Pieces of the port names between underscores, two characters or longer.
std::set<std::string> name_fragments(const std::vector<std::string>& port_names) {
  std::set<std::string> fragments;
  for (const std::string& name : port_names)
    for (std::string& piece : util::split(name, "_"))
      if (util::length(piece) > 1) fragments.insert(std::move(piece));
  return fragments;
}

// The first word of the first meaningful name part (expanded when it is an
// abbreviation), or "" when no part qualifies.
std::string name_subject(std::string_view entity_name) {
  for (const std::string& part : util::split(util::lower(entity_name), "_")) {
    if (part == "clk" || part == "rst" || part == "en" || util::length(part) <= 2) continue;
    const std::string* expansion = hdl::abbreviation_lookup(part);
    const std::vector<std::string> words = util::split_whitespace(expansion ? *expansion : part);
    // A part made only of whitespace has no first word; the subject is then "IP core" alone.
    return words.empty() ? std::string() : words.front();
  }
  return {};
}

}  // namespace

const util::Regex& meaningful_generics() {
  static const util::Regex re(
      R"((?:DATA|ADDR|BUS)_?WIDTH|DEPTH|N_(?:PORTS|CHANNELS|STAGES)|NUM_\w+|CLOCK_FREQ|BAUD_RATE|FIFO_DEPTH)",
      util::kIgnoreCase);
  return re;
}

Json initial_port_hints() {
  Json hints = Json::object();
  hints["protocols"] = Json::array();
  hints["interfaces"] = Json::array();
  hints["role"] = nullptr;
  hints["has_generics"] = false;
  return hints;
}

namespace {

// What a file's port and generic declarations say, whichever of its units asks.
struct PortFacts {
  bool has_ports = false;
  std::vector<std::string> protocols;  // found from the port names
  std::vector<std::string> interfaces;
  bool has_generics = false;
};

const util::FileMemoKey kPortFactsKey;

PortFacts read_port_facts(const std::string& entity_path) {
  PortFacts facts;
  const auto text = util::read_text(entity_path);
  if (!text) return facts;
  const std::string suffix = util::path_suffix_lower(entity_path);
  const std::vector<std::string> port_names = hdl::extract_port_names(*text, suffix);
  if (port_names.empty()) return facts;
  const std::vector<std::string> generic_names = hdl::extract_generic_names(*text, suffix);
  const std::set<std::string> fragments = name_fragments(port_names);
  facts.has_ports = true;
  facts.protocols = hdl::detect_protocols(fragments, port_names);
  facts.interfaces = hdl::detect_interfaces(fragments, port_names);
  facts.has_generics = std::any_of(generic_names.begin(), generic_names.end(), [](const std::string& name) {
    return meaningful_generics().search(name).has_value();
  });
  return facts;
}

}  // namespace

std::pair<std::optional<std::string>, Json> infer_description_from_ports(std::string_view entity_name,
                                                                         const std::string& entity_path) {
  Json hints = initial_port_hints();
  const auto facts =
      util::memo_per_file<PortFacts>(entity_path, kPortFactsKey, [&] { return read_port_facts(entity_path); });
  if (!facts->has_ports) return {std::nullopt, hints};

  std::vector<std::string> protocols = facts->protocols;
  const std::vector<std::string>& interfaces = facts->interfaces;
  const bool has_generics = facts->has_generics;
  const std::optional<std::string> role = hdl::detect_entity_role(entity_name);
  // The name stands in only when the ports revealed no protocol.
  if (protocols.empty())
    if (auto named = hdl::detect_entity_protocol(entity_name)) protocols.push_back(std::move(*named));

  hints["protocols"] = protocols;
  hints["interfaces"] = interfaces;
  hints["role"] = role ? Json(*role) : Json(nullptr);
  hints["has_generics"] = has_generics;

  long long score = 2 * static_cast<long long>(protocols.size()) + static_cast<long long>(interfaces.size());
  if (role) score += 2;
  if (has_generics) score += 1;
  if (repo::tb_patterns().search(entity_name)) score -= 2;
  if (score < 2) return {std::nullopt, hints};
  return {compose_description(entity_name, protocols, interfaces, role, has_generics), hints};
}

std::string compose_description(std::string_view entity_name, const std::vector<std::string>& protocols,
                                const std::vector<std::string>& interfaces, const std::optional<std::string>& role,
                                bool has_generics) {
  std::vector<std::string> pieces;
  if (!protocols.empty()) pieces.push_back(protocols.front());
  if (role && !role->empty()) {
    pieces.push_back(*role);
  } else if (protocols.empty()) {
    std::string subject = name_subject(entity_name);
    if (!subject.empty()) pieces.push_back(std::move(subject));
    pieces.emplace_back("IP core");
  }

  std::vector<std::string> qualifiers;
  if (protocols.size() >= 2) qualifiers.push_back(protocols[1] + " interface");
  for (std::size_t i = 0; i < interfaces.size() && i < 2; ++i) qualifiers.push_back(interfaces[i]);
  if (has_generics) qualifiers.emplace_back("configurable parameters");
  if (!qualifiers.empty()) {
    qualifiers.resize(std::min<std::size_t>(qualifiers.size(), 2));
    pieces.push_back("with " + util::join(qualifiers, " and "));
  }

  std::string result = util::join(pieces, " ");
  if (!result.empty()) result = util::upper(util::slice(result, 0, 1)) + util::slice(result, 1);
  return util::apply_length_cap(result);
}

}  // namespace quarrix::describe
