#include "quarrix/util/path.hpp"

#include <algorithm>

#include "quarrix/util/text.hpp"

namespace quarrix::util {

std::vector<std::string> path_parts(std::string_view path) {
  std::vector<std::string> parts;
  if (!path.empty() && path.front() == '/') parts.emplace_back("/");
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    const std::string_view part = path.substr(i, j - i);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    i = j + 1;
  }
  return parts;
}

namespace {

std::string parts_to_string(const std::vector<std::string>& parts, std::size_t from = 0) {
  std::string out;
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (!out.empty() && out != "/") out.push_back('/');
    out.append(parts[i]);
  }
  return out.empty() ? "." : out;
}

}  // namespace

std::string normalize_path(std::string_view path) { return parts_to_string(path_parts(path)); }

std::string relative_to_root(std::string_view path, std::string_view root) {
  const auto p = path_parts(path);
  const auto r = path_parts(root);
  if (r.size() <= p.size() && std::equal(r.begin(), r.end(), p.begin())) return parts_to_string(p, r.size());
  return parts_to_string(p);
}

std::string path_name(std::string_view path) {
  const auto parts = path_parts(path);
  if (parts.empty() || (parts.size() == 1 && parts[0] == "/")) return "";
  return parts.back();
}

std::string path_suffix(std::string_view path) {
  const std::string name = path_name(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
  return name.substr(dot);
}

std::string path_suffix_lower(std::string_view path) { return lower(path_suffix(path)); }

bool is_absolute_path(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::string join_path(std::string_view root, std::string_view rel) {
  if (is_absolute_path(rel) || root.empty()) return normalize_path(rel);
  std::string joined(root);
  joined.push_back('/');
  joined.append(rel);
  return normalize_path(joined);
}

bool path_less(std::string_view a, std::string_view b) {
  const auto pa = path_parts(a);
  const auto pb = path_parts(b);
  return std::lexicographical_compare(pa.begin(), pa.end(), pb.begin(), pb.end());
}

}  // namespace quarrix::util
