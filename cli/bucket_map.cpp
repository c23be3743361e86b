#include "bucket_map.hpp"

#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

#include "options.hpp"
#include "quarrix/aggregate/bucket_map.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/json_object_builder.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::cli {

namespace {

constexpr std::size_t kMaxFileBytes = 16u << 20;
// Aliases can make a small document expand enormously, or refer to
// themselves: cap what we build and how deep we follow them.
constexpr std::size_t kMaxNodes = 200000;

UsageError too_deep(const std::string& file) { return UsageError("bucket map " + file + " is nested too deeply"); }

class YamlConverter {
 public:
  explicit YamlConverter(const std::string& file) : file_(file) {}

  Json convert(const YAML::Node& node, std::size_t depth = 0) {
    if (depth > util::kMaxJsonDepth) throw too_deep(file_);
    if (++nodes_ > kMaxNodes)
      fail("too large once its aliases are expanded (more than " + std::to_string(kMaxNodes) + " values)");
    switch (node.Type()) {
      case YAML::NodeType::Null:
      case YAML::NodeType::Undefined: return nullptr;
      case YAML::NodeType::Scalar: return scalar(node);
      case YAML::NodeType::Sequence: {
        Json out = Json::array();
        for (const auto& item : node) out.push_back(convert(item, depth + 1));
        return out;
      }
      case YAML::NodeType::Map: {
        util::JsonObjectBuilder out;
        for (const auto& item : node) {
          if (!item.first.IsScalar()) fail("a mapping key is not a plain value");
          out.set(item.first.Scalar(), convert(item.second, depth + 1));
        }
        return std::move(out).take();
      }
    }
    return nullptr;
  }

 private:
  [[noreturn]] void fail(const std::string& why) { throw UsageError("bucket map " + file_ + ": " + why); }

  // YAML 1.2 core schema for plain scalars; quoted scalars are strings.
  static Json scalar(const YAML::Node& node) {
    const std::string& text = node.Scalar();
    if (node.Tag() != "?") return text;
    static const util::Regex null_re("(?:~|null|Null|NULL|)");
    static const util::Regex bool_re("(?:true|True|TRUE|false|False|FALSE)");
    static const util::Regex int_re("[-+]?[0-9]+");
    static const util::Regex float_re("[-+]?(?:\\.[0-9]+|[0-9]+(?:\\.[0-9]*)?)(?:[eE][-+]?[0-9]+)?");
    if (null_re.fullmatch(text)) return nullptr;
    if (bool_re.fullmatch(text)) return text[0] == 't' || text[0] == 'T';
    if (int_re.fullmatch(text)) {
      if (const auto value = util::parse_int(text); value && util::length(text) < 19) return *value;
      return text;
    }
    if (float_re.fullmatch(text)) {
      if (const auto value = util::parse_float(text)) return *value;
    }
    return text;
  }

  std::string file_;
  std::size_t nodes_ = 0;
};

}  // namespace

Json load_bucket_map(const std::string& file) {
  if (util::is_directory(file)) throw UsageError("bucket map " + file + " is a directory");
  const auto bytes = util::read_file_bytes(file);
  if (!bytes) throw UsageError("cannot read bucket map " + file);
  if (bytes->size() > kMaxFileBytes) throw UsageError("bucket map " + file + " is larger than 16 MiB");
  if (!util::is_valid_utf8(*bytes)) throw UsageError("bucket map " + file + " is not UTF-8 text");

  Json map;
  if (util::path_suffix_lower(file) == ".json") {
    const auto parsed = util::parse_json(*bytes);
    if (!parsed) throw UsageError("bucket map " + file + " is not valid JSON");
    map = *parsed;
  } else {
    YAML::Node root;
    try {
      root = YAML::Load(*bytes);
    } catch (const YAML::DeepRecursion&) {  // the parser's own guard, a little below our limit
      throw too_deep(file);
    } catch (const YAML::Exception& e) {
      throw UsageError("bucket map " + file + " is not valid YAML: " + e.what());
    }
    YamlConverter converter(file);
    map = converter.convert(root);
  }
  if (const auto fault = aggregate::find_bucket_map_fault(map))
    throw UsageError("bucket map " + file + ": " + aggregate::bucket_map_fault_text(*fault));
  return map;
}

}  // namespace quarrix::cli
