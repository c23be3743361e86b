#include <climits>
#include <set>

#include <nanobind/stl/optional.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/hdl/entity_name.hpp"
#include "quarrix/hdl/header_comment.hpp"
#include "quarrix/hdl/module_signature.hpp"
#include "quarrix/hdl/port_names.hpp"
#include "quarrix/hdl/protocols.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

std::string str_item(nb::handle item, const char* what) {
  if (!PyUnicode_Check(item.ptr())) type_error(std::string(what) + " must hold str items, not " + py_type_name(item));
  return str_bytes(item, what);
}

// A list or tuple of str (a set or frozenset too when `allow_set`).
std::vector<std::string> str_items(nb::handle obj, const char* what, bool allow_set = false) {
  const bool ok = PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr()) || (allow_set && PyAnySet_Check(obj.ptr()));
  if (!ok)
    type_error(std::string(what) +
               (allow_set ? " must be a set, list or tuple of str, not " : " must be a list or tuple of str, not ") +
               py_type_name(obj));
  std::vector<std::string> out;
  for (nb::handle item : obj) out.push_back(str_item(item, what));
  return out;
}

std::set<std::string> str_set(nb::handle obj, const char* what) {
  const auto items = str_items(obj, what, true);
  return {items.begin(), items.end()};
}

// A Python int of any size, saturated to the long long range (a slice bound).
long long int_arg(nb::handle obj, const char* what) {
  if (!PyLong_Check(obj.ptr())) type_error(std::string(what) + " must be int, not " + py_type_name(obj));
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj.ptr(), &overflow);
  if (overflow != 0) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
  return value;
}

nb::list signature_table(const std::vector<hdl::Signature>& rows) {
  nb::list out;
  for (const auto& row : rows) out.append(nb::make_tuple(row.id, to_pylist(row.markers), row.min_matches, row.label));
  return out;
}

// Port and generic names, and module signatures.
void bind_port_names(nb::module_& m) {
  m.def(
      "_extract_port_names",
      [](const std::string& source_text, const std::string& suffix) {
        return to_pylist(hdl::extract_port_names(source_text, suffix));
      },
      nb::sig("def _extract_port_names(source_text: str, suffix: str) -> list[str]"), "source_text"_a, "suffix"_a);
  m.def(
      "_extract_generic_names",
      [](const std::string& source_text, const std::string& suffix) {
        return to_pylist(hdl::extract_generic_names(source_text, suffix));
      },
      nb::sig("def _extract_generic_names(source_text: str, suffix: str) -> list[str]"), "source_text"_a, "suffix"_a);
  m.def(
      "_extract_module_signature",
      [](nb::handle source_path, nb::handle max_lines) {
        const std::string path = path_arg(source_path, "source_path");
        return hdl::find_module_signature(path, int_arg(max_lines, "max_lines"));
      },
      nb::sig(("def _extract_module_signature(source_path: " QUARRIX_PY_PATH ", max_lines: int = " +
               py_literal(hdl::kSignatureMaxLines) + ") -> str | None")
                  .c_str()),
      "source_path"_a, "max_lines"_a = hdl::kSignatureMaxLines);
}

// The protocol and interface tables and their detection.
void bind_protocols(nb::module_& m) {
  m.attr("PROTOCOL_SIGNATURES") = signature_table(hdl::protocol_signatures());
  m.attr("INTERFACE_PATTERNS") = signature_table(hdl::interface_patterns());
  m.def(
      "_detect_protocols",
      [](nb::handle fragments, nb::handle port_names) {
        return to_pylist(hdl::detect_protocols(str_set(fragments, "fragments"), str_items(port_names, "port_names")));
      },
      nb::sig("def _detect_protocols(fragments: " QUARRIX_PY_STR_SET ", port_names: " QUARRIX_PY_STR_SEQUENCE
              ") -> list[str]"),
      "fragments"_a, "port_names"_a);
  m.def(
      "_detect_interfaces",
      [](nb::handle fragments, nb::handle port_names) {
        return to_pylist(hdl::detect_interfaces(str_set(fragments, "fragments"), str_items(port_names, "port_names")));
      },
      nb::sig("def _detect_interfaces(fragments: " QUARRIX_PY_STR_SET ", port_names: " QUARRIX_PY_STR_SEQUENCE
              ") -> list[str]"),
      "fragments"_a, "port_names"_a);
}

// What an entity's name says.
void bind_entity_name(nb::module_& m) {
  nb::list role_patterns;
  for (const auto& row : hdl::entity_role_patterns()) role_patterns.append(nb::make_tuple(row.pattern, row.role));
  m.attr("ENTITY_ROLE_PATTERNS") = role_patterns;
  m.def(
      "_detect_entity_role", [](const std::string& entity_name) { return hdl::detect_entity_role(entity_name); },
      "entity_name"_a);
  m.def(
      "_detect_entity_protocol",
      [](const std::string& entity_name) { return hdl::detect_entity_protocol(entity_name); }, "entity_name"_a);
}

// The header comment's prose.
void bind_header_comment(nb::module_& m) {
  m.attr("_SKIP_PATTERNS") = hdl::skip_patterns().pattern();
  m.attr("_REPO_BOILERPLATE") = hdl::repo_boilerplate().pattern();
  m.def(
      "_extract_header_description",
      [](nb::handle source_path) { return hdl::extract_header_description(path_arg(source_path, "source_path")); },
      nb::sig("def _extract_header_description(source_path: " QUARRIX_PY_PATH ") -> str | None"), "source_path"_a,
      "Tier 0: Extract a description from the HDL file's header comment block.");
  m.def(
      "_extract_vhdl_header", [](const std::string& text) { return hdl::extract_vhdl_header(text); }, "text"_a);
  m.def(
      "_extract_verilog_header", [](const std::string& text) { return hdl::extract_verilog_header(text); }, "text"_a);
  m.def(
      "_clean_comment_lines",
      [](nb::handle lines, const std::string& prefix) {
        return hdl::clean_comment_lines(str_items(lines, "lines"), prefix);
      },
      nb::sig("def _clean_comment_lines(lines: " QUARRIX_PY_STR_SEQUENCE ", prefix: str) -> str | None"), "lines"_a,
      "prefix"_a, "Strip comment prefixes and boilerplate, return prose if >=5 words.");
}

}  // namespace

void bind_hdl(nb::module_& m) {
  bind_port_names(m);
  bind_protocols(m);
  bind_entity_name(m);
  bind_header_comment(m);
}

}  // namespace quarrix::py
