#include "source_files.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "quarrix/util/path.hpp"

namespace quarrix::probes::detail {

std::vector<std::string> sources_with_suffix(const std::vector<std::string>& files,
                                             std::span<const std::string_view> suffixes) {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (const auto& file : files) {
    const std::string suffix = util::path_suffix_lower(file);
    if (std::find(suffixes.begin(), suffixes.end(), suffix) == suffixes.end()) continue;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    std::string path = ec ? file : absolute.lexically_normal().string();
    if (seen.insert(path).second) out.push_back(std::move(path));
  }
  return out;
}

}  // namespace quarrix::probes::detail
