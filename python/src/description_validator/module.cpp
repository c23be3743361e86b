#include <optional>
#include <string>

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>

#include "common/fs_string.hpp"

#include <quarrix/validator/validator.hpp>

namespace nb = nanobind;
using namespace nb::literals;

NB_MODULE(description_validator, m) {
  m.doc() = "Decides whether a candidate catalog description is defective.";
  m.def(
      "is_suspect",
      [](const std::string& text, const std::optional<std::string>& name, const std::optional<std::string>& ns) {
        return quarrix::validator::is_suspect(text, name, ns);
      },
      "text"_a, "name"_a = nb::none(), "namespace"_a = nb::none(),
      "True when `text` is not usable as a description: legal text, code residue, an echo of\n"
      "`name`, boilerplate or placeholders, or language-model chatter.");
}
