#include <quarrix/describe/verdicts.hpp>

#include <filesystem>

#include <quarrix/util/file.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::describe {

Json load_description_verdicts(const std::string& index_dir) {
  const std::filesystem::path path = std::filesystem::path(index_dir) / kVerdictsFileName;
  if (!util::is_regular_file(path)) return Json::object();
  // The registry is optional: bytes that are not UTF-8 count as a malformed
  // file rather than an error.
  const std::optional<std::string> bytes = util::read_file_bytes(path);
  if (!bytes || !util::is_valid_utf8(*bytes)) return Json::object();
  std::optional<Json> parsed = util::parse_json(*bytes);
  if (!parsed || !parsed->is_object()) return Json::object();
  auto entries = parsed->find("entries");
  if (entries != parsed->end() && entries->is_object()) return std::move(*entries);
  return std::move(*parsed);
}

std::optional<std::string> verdict_locked_text(const Json* verdicts, std::string_view ns, std::string_view name) {
  if (verdicts == nullptr || !verdicts->is_object() || verdicts->empty()) return std::nullopt;
  std::string key;
  key.reserve(ns.size() + 1 + name.size());
  key.append(ns).append("/").append(name);
  auto record = verdicts->find(key);
  if (record == verdicts->end() || !record->is_object()) return std::nullopt;
  auto verdict = record->find("verdict");
  if (verdict == record->end() || !verdict->is_string() || verdict->get_ref<const std::string&>() != "good")
    return std::nullopt;
  auto text = record->find("locked_text");
  if (text == record->end() || !text->is_string()) return std::nullopt;
  const auto& locked = text->get_ref<const std::string&>();
  if (util::strip(locked).empty()) return std::nullopt;
  return locked;
}

}  // namespace quarrix::describe
