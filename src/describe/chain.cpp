#include <quarrix/describe/chain.hpp>

#include <quarrix/describe/port_inference.hpp>
#include <quarrix/hdl/header_comment.hpp>
#include <quarrix/hdl/header_field.hpp>
#include <quarrix/hdl/module_signature.hpp>
#include <quarrix/llm/chain.hpp>

namespace quarrix::describe {

bool accept_desc(const std::optional<std::string>& desc, std::string_view name, std::string_view ns,
                 const SuspectFn& is_suspect) {
  if (!desc || desc->empty()) return false;
  return !is_suspect(*desc, std::string(name), std::string(ns));
}

std::pair<std::string, std::string> generate_description(const DescribedUnit& unit, const Services& services,
                                                         const llm::ChainSettings& llm_settings, bool use_llm,
                                                         const EarlierDescriptions& earlier) {
  const std::string_view entity_name = unit.name, ns = unit.ns;
  const std::string& entity_path = unit.path;
  const std::optional<std::string>& locked_description = earlier.locked;
  const std::optional<std::string>& previous_description = earlier.previous;
  // Curator-approved text is final: no file is read and nothing is validated.
  if (locked_description && !locked_description->empty()) return {*locked_description, "verdict"};

  // A header template ("Module Name: ... Function: ...") says what the unit is
  // in a field of its own; the rest of such a header is fields and notes.
  std::optional<std::string> field = hdl::extract_header_field_description(entity_path);
  if (accept_desc(field, entity_name, ns, services.is_suspect)) return {std::move(*field), "header"};
  std::optional<std::string> header = hdl::extract_header_description(entity_path);
  if (accept_desc(header, entity_name, ns, services.is_suspect)) return {std::move(*header), "header"};

  // The hints go to the language model even when the sentence was rejected.
  auto [from_ports, port_hints] = infer_description_from_ports(entity_name, entity_path);
  if (accept_desc(from_ports, entity_name, ns, services.is_suspect)) return {std::move(*from_ports), "ports"};

  if (use_llm) {
    const std::string signature = hdl::extract_module_signature(entity_path);
    if (!signature.empty()) {
      std::optional<std::string> from_llm =
          llm::llm_describe(entity_name, signature, unit.language, port_hints, llm_settings, services.llm);
      if (accept_desc(from_llm, entity_name, ns, services.is_suspect)) return {std::move(*from_llm), "llm"};
    }
  }

  // A rescan never downgrades a clean catalog description to the filler.
  if (accept_desc(previous_description, entity_name, ns, services.is_suspect))
    return {*previous_description, "preserved"};

  std::string filler(ns);
  filler.append(" IP: ").append(entity_name);
  return {std::move(filler), "auto"};
}

}  // namespace quarrix::describe
