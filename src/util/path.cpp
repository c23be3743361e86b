#include "quarrix/util/path.hpp"

#include <algorithm>
#include <optional>

#include "quarrix/util/text.hpp"

namespace quarrix::util {

namespace {

// The parts path_parts() lists, one at a time and without copies: paths are
// compared and rebuilt far more often than they are split for keeps.
class PartCursor {
 public:
  explicit PartCursor(std::string_view path) : path_(path), root_pending_(!path.empty() && path.front() == '/') {}

  std::optional<std::string_view> next() {
    if (root_pending_) {
      root_pending_ = false;
      return std::string_view("/");
    }
    while (pos_ < path_.size()) {
      std::size_t end = path_.find('/', pos_);
      if (end == std::string_view::npos) end = path_.size();
      const std::string_view part = path_.substr(pos_, end - pos_);
      pos_ = end + 1;
      if (!part.empty() && part != ".") return part;
    }
    return std::nullopt;
  }

 private:
  std::string_view path_;
  bool root_pending_;
  std::size_t pos_ = 0;
};

// The parts still ahead of `cursor` joined as pathlib shows them; "." when none.
std::string join_rest(PartCursor& cursor, std::size_t size_hint) {
  std::string out;
  out.reserve(size_hint);
  while (const auto part = cursor.next()) {
    if (!out.empty() && out != "/") out.push_back('/');
    out.append(*part);
  }
  return out.empty() ? "." : out;
}

}  // namespace

std::vector<std::string> path_parts(std::string_view path) {
  std::vector<std::string> parts;
  PartCursor cursor(path);
  while (const auto part = cursor.next()) parts.emplace_back(*part);
  return parts;
}

std::vector<std::string> parent_parts(std::string_view path) {
  std::vector<std::string> parts = path_parts(path);
  if (!parts.empty() && parts.back() != "/") parts.pop_back();
  return parts;
}

std::size_t common_parts_length(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

std::string normalize_path(std::string_view path) {
  PartCursor cursor(path);
  return join_rest(cursor, path.size());
}

std::string relative_to_root(std::string_view path, std::string_view root) {
  PartCursor p(path);
  PartCursor r(root);
  while (const auto root_part = r.next()) {
    const auto part = p.next();
    if (!part || *part != *root_part) return normalize_path(path);
  }
  return join_rest(p, path.size());
}

std::string path_name(std::string_view path) {
  PartCursor cursor(path);
  std::string_view last;
  while (const auto part = cursor.next()) last = *part;
  return last == "/" ? std::string() : std::string(last);
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
  PartCursor pa(a);
  PartCursor pb(b);
  while (true) {
    const auto x = pa.next();
    const auto y = pb.next();
    if (!y) return false;
    if (!x) return true;
    if (const int c = x->compare(*y); c != 0) return c < 0;
  }
}

}  // namespace quarrix::util
