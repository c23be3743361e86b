#include "previous.hpp"

#include "options.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/json_object_builder.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::cli {

namespace {

void add_row(util::JsonObjectBuilder& out, const Json& row, const std::string& file) {
  if (!row.is_object()) throw UsageError("--previous " + file + ": a row is not a JSON object");
  const auto name = row.find("name");
  const auto description = row.find("description");
  if (name != row.end() && description != row.end() && name->is_string() && description->is_string())
    out.set(name->get<std::string>(), *description);
}

}  // namespace

Json load_previous_descriptions(const std::string& file) {
  if (util::is_directory(file)) throw UsageError("--previous " + file + " is a directory");
  const auto bytes = util::read_file_bytes(file);
  if (!bytes) throw UsageError("cannot read --previous " + file);

  util::JsonObjectBuilder out;
  if (auto parsed = util::parse_json(*bytes)) {
    if (parsed->is_object()) {
      for (const auto& [name, description] : parsed->items())
        if (!description.is_string() && !description.is_null())
          throw UsageError("--previous " + file + ": the description of '" + name + "' is not a string");
      return std::move(*parsed);
    }
    if (parsed->is_array()) {
      for (const auto& row : *parsed) add_row(out, row, file);
      return std::move(out).take();
    }
    throw UsageError("--previous " + file + " must hold a JSON map name -> description or quarrix-scan output");
  }
  // One row per line (--format jsonl).
  std::size_t line_number = 0;
  for (const auto& line : util::split(*bytes, "\n")) {
    ++line_number;
    if (util::strip(line).empty()) continue;
    const auto row = util::parse_json(line);
    if (!row)
      throw UsageError("--previous " + file + " is neither JSON nor JSON lines (line " + std::to_string(line_number) +
                       " does not parse)");
    add_row(out, *row, file);
  }
  return std::move(out).take();
}

}  // namespace quarrix::cli
