#include "quarrix/util/json_object_builder.hpp"

namespace quarrix::util {

void JsonObjectBuilder::set(std::string key, Json value) {
  auto& items = object_.get_ref<Json::object_t&>();
  if (items.size() < kIndexFrom) {
    for (auto& item : items)
      if (item.first == key) {
        item.second = std::move(value);
        return;
      }
  } else {
    if (index_.empty())
      for (std::size_t i = 0; i < items.size(); ++i) index_.emplace(items.begin()[i].first, i);
    const auto [it, added] = index_.try_emplace(key, items.size());
    if (!added) {
      items.begin()[it->second].second = std::move(value);
      return;
    }
  }
  // Appended past the object's own key search: the key is known to be new.
  items.emplace_back(std::move(key), std::move(value));
}

}  // namespace quarrix::util
