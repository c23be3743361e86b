#pragma once
// Tags from the words hidden in port names, and domain keywords from a
// repository's README.

#include <map>
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
// README. Cached per `repo_path` string for the life of the process, so a
// README is read at most once; a repository without README caches no tags.
const std::set<std::string>& extract_readme_tags(const std::string& repo_path);

// The cache behind extract_readme_tags(): repository path -> README tags. It
// only grows; entries are never replaced or removed.
const std::map<std::string, std::set<std::string>>& readme_tags_cache();

}  // namespace quarrix::tags
