#include <exception>
#include <set>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"
#include "quarrix/aggregate/bucket_map.hpp"
#include "quarrix/aggregate/bucket_row.hpp"
#include "quarrix/aggregate/readme_description.hpp"
#include "quarrix/aggregate/repo_row.hpp"
#include "quarrix/aggregate/subproject.hpp"
#include "quarrix/repo/define_carriers.hpp"
#include "quarrix/repo/vendor_variants.hpp"
#include "quarrix/tags/port_readme_tags.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

Json list_json(nb::handle obj, const char* what) {
  if (!is_list(obj)) type_error(std::string(what) + " must be a list, not " + py_type_name(obj));
  return to_json(obj, what);
}

Json dict_json(nb::handle obj, const char* what) {
  if (!is_dict(obj)) type_error(std::string(what) + " must be a dict, not " + py_type_name(obj));
  return to_json(obj, what);
}

// The verdict registry: a dict, or None (held as null).
Json verdicts_json(nb::handle obj) { return obj.is_none() ? Json(nullptr) : dict_json(obj, "description_verdicts"); }

const Json* verdicts_ptr(const Json& verdicts) { return verdicts.is_null() ? nullptr : &verdicts; }

nb::set to_set(const std::set<std::string>& words) {
  nb::set out;
  for (const std::string& word : words) out.add(to_pystr(word));
  return out;
}

// The README tags of this module, kept for the life of the process.
tags::ReadmeTagCache& readme_cache() {
  static tags::ReadmeTagCache cache;
  return cache;
}

// A read-only live view of readme_cache() (repository path -> tags).
struct ReadmeCacheView {};

// The row settings of a call: the tag cap from the environment now, the
// module's validator and the verdicts (None or a dict) held in `verdicts`.
aggregate::RowContext row_context(nb::handle description_verdicts, Json& verdicts) {
  verdicts = verdicts_json(description_verdicts);
  return {tags::resolve_tag_cap(), module_services().is_suspect, verdicts_ptr(verdicts)};
}

// The patterns and helpers of define carriers and vendor variants.
void bind_source_helpers(nb::module_& m) {
  m.attr("_DEFINE_RE") = repo::kDefinePattern;
  m.attr("_TOP_DECL_RE") = repo::kTopDeclPattern;
  m.attr("_TECH_DIR_RE") = repo::kTechDirPattern;
  nb::dict vendor_tokens;
  for (const auto& [word, vendor] : repo::vendor_tokens()) vendor_tokens[word.c_str()] = vendor;
  m.attr("_VENDOR_TOKENS") = vendor_tokens;

  m.def(
      "_collect_define_carriers",
      [](nb::handle repo_path, nb::handle scope_files) {
        return repo::collect_define_carriers(path_arg(repo_path, "repo_path"),
                                             path_list_arg(scope_files, "scope_files"));
      },
      nb::sig("def _collect_define_carriers(repo_path: " QUARRIX_PY_PATH ", scope_files: " QUARRIX_PY_PATH_LIST
              ") -> list[str]"),
      "repo_path"_a, "scope_files"_a,
      "Define-only Verilog headers in the directory tree spanned by scope_files, as repository-relative paths.");
  m.def(
      "_detect_vendor_variants",
      [](nb::handle /*repo_path*/, nb::handle candidate_files) {
        if (!is_list(candidate_files))
          type_error("candidate_files must be a list, not " + py_type_name(candidate_files));
        std::vector<std::string> candidates;
        for (nb::handle item : candidate_files) candidates.push_back(str_arg(item, "candidate_files items"));
        return from_json(repo::detect_vendor_variants("", candidates));
      },
      nb::sig("def _detect_vendor_variants(repo_path: object, candidate_files: list[str]) -> dict[str, list[str]]"),
      "repo_path"_a, "candidate_files"_a, "Vendor -> sorted list of the candidate paths that are its variants.");
}

// The repo row, the subproject rows and the README description they use.
void bind_aggregate_rows(nb::module_& m) {
  m.def(
      "_aggregate_repo_entry",
      [](nb::handle entries, nb::handle roles, nb::handle repo_path, const std::string& ns, const std::string& url,
         const std::string& tag, nb::handle description_verdicts) {
        Json verdicts;
        const aggregate::RowContext context = row_context(description_verdicts, verdicts);
        return from_json(aggregate::aggregate_repo_entry(list_json(entries, "entries"), dict_json(roles, "roles"),
                                                         path_arg(repo_path, "repo_path"), {ns, url, tag}, context));
      },
      nb::sig("def _aggregate_repo_entry(entries: " QUARRIX_PY_JSON_LIST ", roles: " QUARRIX_PY_JSON_MAP
              ", repo_path: " QUARRIX_PY_PATH
              ", namespace: str, url: str, tag: str, description_verdicts: " QUARRIX_PY_JSON_MAP
              " | None = None) -> " QUARRIX_PY_ROWS),
      "entries"_a, "roles"_a, "repo_path"_a, "namespace"_a, "url"_a, "tag"_a, "description_verdicts"_a = nb::none(),
      "All entries of a scan collapsed into a list holding one repo row (empty without entries).");
  m.def(
      "_aggregate_subproject_entries",
      [](nb::handle entries, nb::handle roles, nb::handle repo_path, const std::string& ns, const std::string& url,
         const std::string& tag, nb::handle bucket_map, nb::handle description_verdicts) {
        Json verdicts;
        const aggregate::RowContext context = row_context(description_verdicts, verdicts);
        return from_json(aggregate::aggregate_subproject_entries(
            list_json(entries, "entries"), dict_json(roles, "roles"), path_arg(repo_path, "repo_path"), {ns, url, tag},
            dict_json(bucket_map, "bucket_map"), context));
      },
      nb::sig("def _aggregate_subproject_entries(entries: " QUARRIX_PY_JSON_LIST ", roles: " QUARRIX_PY_JSON_MAP
              ", repo_path: " QUARRIX_PY_PATH ", namespace: str, url: str, tag: str, bucket_map: " QUARRIX_PY_JSON_MAP
              ", description_verdicts: " QUARRIX_PY_JSON_MAP " | None = None) -> " QUARRIX_PY_ROWS),
      "entries"_a, "roles"_a, "repo_path"_a, "namespace"_a, "url"_a, "tag"_a, "bucket_map"_a,
      "description_verdicts"_a = nb::none(),
      "One row per non-empty curated bucket; ValueError for an empty bucket map or unrouted entries.");
  m.def(
      "_aggregate_one_bucket",
      [](nb::handle entries, nb::handle roles, const std::string& ns, const std::string& url, const std::string& tag,
         const std::string& bucket_name, const std::string& bucket_description, const std::string& license_id,
         nb::handle description_verdicts) {
        Json verdicts;
        const aggregate::RowContext context = row_context(description_verdicts, verdicts);
        return from_json(aggregate::aggregate_one_bucket(list_json(entries, "entries"), dict_json(roles, "roles"),
                                                         {ns, url, tag}, {bucket_name, bucket_description}, license_id,
                                                         context));
      },
      nb::sig("def _aggregate_one_bucket(entries: " QUARRIX_PY_JSON_LIST ", roles: " QUARRIX_PY_JSON_MAP
              ", namespace: str, url: str, tag: str, bucket_name: str, bucket_description: str, license_id: str, "
              "description_verdicts: " QUARRIX_PY_JSON_MAP " | None = None) -> " QUARRIX_PY_JSON_MAP),
      "entries"_a, "roles"_a, "namespace"_a, "url"_a, "tag"_a, "bucket_name"_a, "bucket_description"_a, "license_id"_a,
      "description_verdicts"_a = nb::none(), "The row of one subproject bucket.");
  m.def(
      "_extract_readme_description",
      [](nb::handle repo_path) { return aggregate::extract_readme_description(path_arg(repo_path, "repo_path")); },
      nb::sig("def _extract_readme_description(repo_path: " QUARRIX_PY_PATH ") -> str | None"), "repo_path"_a,
      "The README's first prose paragraph as one cleaned line, or None.");
}

// The one check of a bucket map's shape, for the batch manifest.
void bind_bucket_map_check(nb::module_& m) {
  m.def(
      "_bucket_map_fault",
      [](nb::handle bucket_map) -> std::optional<std::string> {
        const std::optional<aggregate::BucketMapFault> fault =
            aggregate::find_bucket_map_fault(to_json(bucket_map, "bucket_map"));
        if (!fault) return std::nullopt;
        return aggregate::bucket_map_fault_text(*fault);
      },
      nb::sig("def _bucket_map_fault(bucket_map: " QUARRIX_PY_JSON_MAP ") -> str | None"), "bucket_map"_a,
      "What is wrong with the bucket map's shape, as quarrix-scan says it of a file, or None.");
}

// The port and README tags, and the README tag cache.
void bind_port_readme_tags(nb::module_& m) {
  m.def(
      "_add_signal_tags",
      [](const std::string& signal_name, nb::handle tags) {
        std::set<std::string> words;
        tags::add_signal_tags(signal_name, words);
        nb::object add = nb::getattr(tags, "add");
        for (const std::string& word : words) add(to_pystr(word));
      },
      nb::sig("def _add_signal_tags(signal_name: str, tags: set[str]) -> None"), "signal_name"_a, "tags"_a,
      "Adds the expansion words of the signal's abbreviated parts to tags.");
  m.def(
      "_extract_port_tags",
      [](const std::string& source_text, const std::string& suffix) {
        return to_set(tags::extract_port_tags(source_text, suffix));
      },
      nb::sig("def _extract_port_tags(source_text: str, suffix: str) -> set[str]"), "source_text"_a, "suffix"_a,
      "Tags from all port names of one HDL file.");
  m.def(
      "_extract_readme_tags",
      [](nb::handle repo_path) { return to_set(readme_cache().tags_of(path_arg(repo_path, "repo_path"))); },
      nb::sig("def _extract_readme_tags(repo_path: " QUARRIX_PY_PATH ") -> set[str]"), "repo_path"_a,
      "README keywords of a repository, read once per process (a new set on every call).");

  nb::class_<ReadmeCacheView>(m, "_ReadmeCacheView", "Read-only view of the README tag cache.")
      .def("__len__", [](const ReadmeCacheView&) { return readme_cache().snapshot().size(); })
      .def("__contains__",
           [](const ReadmeCacheView&, nb::handle key) {
             return PyUnicode_Check(key.ptr()) && readme_cache().snapshot().count(str_bytes(key, "key")) != 0;
           })
      .def(
          "__getitem__",
          [](const ReadmeCacheView&, nb::handle key) {
            const auto cache = readme_cache().snapshot();
            const auto found = cache.find(str_arg(key, "key"));
            if (found == cache.end()) {
              PyErr_SetObject(PyExc_KeyError, key.ptr());
              throw nb::python_error();
            }
            return to_set(found->second);
          },
          nb::sig("def __getitem__(self, key: str, /) -> set[str]"))
      .def("keys",
           [](const ReadmeCacheView&) {
             std::vector<std::string> keys;
             for (const auto& [key, words] : readme_cache().snapshot()) keys.push_back(key);
             return keys;
           })
      .def(
          "__iter__", [](nb::handle self) { return nb::iter(self.attr("keys")()); },
          nb::sig("def __iter__(self) -> collections.abc.Iterator[str]"));
  m.attr("_readme_cache") = ReadmeCacheView{};
}

}  // namespace

void bind_aggregate(nb::module_& m) {
  bind_source_helpers(m);
  bind_aggregate_rows(m);
  bind_bucket_map_check(m);
  bind_port_readme_tags(m);
}

}  // namespace quarrix::py
