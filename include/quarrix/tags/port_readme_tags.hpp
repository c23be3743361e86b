#pragma once
// Tags from the words hidden in port names, and domain keywords from a
// repository's README.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace quarrix::tags {

// Adds to `tags` the expansion words (longer than one character) of every
// "_"-separated part of `signal_name` that is an abbreviation of more than two
// characters.
void add_signal_tags(std::string_view signal_name, std::set<std::string>& tags);

// Tags from all port names of one HDL file; `suffix` is the file's extension,
// lower-case with its dot (".vhd"/".vhdl" select the VHDL port syntax).
std::set<std::string> extract_port_tags(std::string_view source_text, std::string_view suffix);

// README keywords of a repository: the expansion words (longer than two
// characters) of every abbreviation that occurs anywhere in the lower-cased
// README; none without a README.
std::set<std::string> read_readme_tags(const std::string& repo_path);

// read_readme_tags() remembered per `repo_path` string, so that a README is
// read at most once for the life of the cache. Its owner decides that life;
// entries are never replaced or removed. Thread-safe.
class ReadmeTagCache {
 public:
  std::set<std::string> tags_of(const std::string& repo_path);
  // Repository path -> README tags, as now.
  std::map<std::string, std::set<std::string>> snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::set<std::string>> by_path_;
};

}  // namespace quarrix::tags
