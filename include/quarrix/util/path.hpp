#pragma once
// Path strings as Python's pathlib shows them: "/" separators, lexical (never
// resolved) relations, and component-wise ordering.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::util {

// str(PurePosixPath(p)): "//", "/./" and a trailing "/" collapse; ".." stays.
std::string normalize_path(std::string_view path);

// PurePath.parts: the root "/" (if any) followed by the components.
std::vector<std::string> path_parts(std::string_view path);
// PurePath.parent.parts: path_parts without the last component ("/" stays).
std::vector<std::string> parent_parts(std::string_view path);
// How many leading components two part lists share.
std::size_t common_parts_length(const std::vector<std::string>& a, const std::vector<std::string>& b);

// str(path.relative_to(root)) when `path` lies lexically under `root` ("." for
// the root itself); otherwise the normalised full path. Never "../x".
std::string relative_to_root(std::string_view path, std::string_view root);

// PurePath.suffix: from the last "." of the last component; "" for ".v", "a.",
// or a name without a dot.
std::string path_suffix(std::string_view path);
// The suffix lower-cased (Python's suffix.lower()).
std::string path_suffix_lower(std::string_view path);
// PurePath.name.
std::string path_name(std::string_view path);
// root / rel as pathlib joins them: an absolute `rel` replaces `root`.
std::string join_path(std::string_view root, std::string_view rel);
bool is_absolute_path(std::string_view path);

// Ordering of PurePosixPath: component by component, each by code point.
bool path_less(std::string_view a, std::string_view b);

// A filesystem::path's string, for the functions above.
inline std::string path_string(const std::filesystem::path& p) { return p.string(); }

}  // namespace quarrix::util
