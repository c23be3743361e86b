#pragma once
// Builds a JSON object key by key in linear time. Json's ordered objects look
// a key up by walking every key before it, so filling a map of 100 000 keys
// with operator[] takes minutes; this keeps a hash index beside the object.

#include <cstddef>
#include <string>
#include <unordered_map>

#include "quarrix/util/json.hpp"

namespace quarrix::util {

class JsonObjectBuilder {
 public:
  // As `object[key] = value`: a repeated key keeps its first place and takes
  // the last value.
  void set(std::string key, Json value);

  std::size_t size() const { return object_.size(); }
  Json take() && { return std::move(object_); }

 private:
  // Small objects (most of them) are searched directly; the index is built
  // once an object grows past this many keys.
  static constexpr std::size_t kIndexFrom = 16;

  Json object_ = Json::object();
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace quarrix::util
