#pragma once
// A repository's description from the first prose paragraph of its README.

#include <optional>
#include <string>

namespace quarrix::aggregate {

// The first paragraph of README.md, README.rst or README (the first readable of
// them, in that order) with headings, underlines, badges, code-fence lines,
// licence lines and link lines skipped, joined into one line and passed
// through the description hygiene. nullopt when there is no readable README or
// it holds no prose. The README is read afresh on every call.
std::optional<std::string> extract_readme_description(const std::string& repo_path);

}  // namespace quarrix::aggregate
