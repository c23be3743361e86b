#include <quarrix/tags/port_readme_tags.hpp>

#include <map>
#include <optional>
#include <vector>

#include <quarrix/hdl/abbreviations.hpp>
#include <quarrix/hdl/language.hpp>
#include <quarrix/repo/readme.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::tags {

namespace {

// Expansion words of `expansion` longer than `min_length` characters.
void add_expansion_words(const std::string& expansion, std::size_t min_length, std::set<std::string>& tags) {
  for (std::string& word : util::split_whitespace(expansion))
    if (util::length(word) > min_length) tags.insert(std::move(word));
}

}  // namespace

void add_signal_tags(std::string_view signal_name, std::set<std::string>& tags) {
  for (const std::string& part : util::split(util::lower(signal_name), "_")) {
    if (util::length(part) <= 2) continue;
    if (const std::string* expansion = hdl::abbreviation_lookup(part)) add_expansion_words(*expansion, 1, tags);
  }
}

std::set<std::string> extract_port_tags(std::string_view source_text, std::string_view suffix) {
  static const util::Regex vhdl_port_block_re("port\\s*\\((.*?)\\)\\s*;", util::kIgnoreCase | util::kDotAll);
  static const util::Regex vhdl_port_re("(\\w+)\\s*:\\s*(in|out|inout)", util::kIgnoreCase);
  static const util::Regex verilog_port_re("(?:input|output|inout)\\s+(?:wire|reg|logic)?\\s*(?:\\[.*?\\])?\\s*(\\w+)",
                                           util::kIgnoreCase);

  std::set<std::string> tags;
  const auto add_group1 = [&](const util::Match& m) {
    add_signal_tags(m.group(1), tags);
    return true;
  };
  if (hdl::is_vhdl_suffix(suffix)) {
    if (const auto block = vhdl_port_block_re.search(source_text)) vhdl_port_re.for_each(block->group(1), add_group1);
  } else {
    verilog_port_re.for_each(source_text, add_group1);
  }
  return tags;
}

std::set<std::string> ReadmeTagCache::tags_of(const std::string& repo_path) {
  {
    std::lock_guard lock(mutex_);
    if (const auto found = by_path_.find(repo_path); found != by_path_.end()) return found->second;
  }
  // Read outside the lock; when two threads race, the first insert wins.
  std::set<std::string> tags = read_readme_tags(repo_path);
  std::lock_guard lock(mutex_);
  return by_path_.emplace(repo_path, std::move(tags)).first->second;
}

std::map<std::string, std::set<std::string>> ReadmeTagCache::snapshot() const {
  std::lock_guard lock(mutex_);
  return by_path_;
}

std::set<std::string> read_readme_tags(const std::string& repo_path) {
  std::set<std::string> tags;
  const std::optional<std::string> text = repo::readme_text(repo_path);
  if (!text) return tags;
  const std::string lowered = util::lower(*text);
  for (const auto& [key, expansion] : hdl::abbreviation_map())
    if (lowered.find(key) != std::string::npos) add_expansion_words(expansion, 2, tags);
  return tags;
}

}  // namespace quarrix::tags
