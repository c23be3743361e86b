#pragma once
// The HDL sources below a set of roots.

#include <string>
#include <vector>

#include <quarrix/hdl/language.hpp>
#include <quarrix/resolver/wildcard.hpp>

namespace quarrix::resolver {

struct SourceFile {
  std::string path;  // the root joined with the path below it; links not resolved
  hdl::HdlLanguage language;
};

// Every file with an HDL suffix below the roots, depth first, each directory's
// entries in name order, each path once. Hidden files are included; links to
// files are listed, links to directories are not followed, ".git"
// directories are not entered, and names that are not valid UTF-8 are skipped
// (no text path could name them). A directory or file is left out, with all it
// holds, when an exclusion pattern matches its name, its path relative to its
// root, or that path prefixed with the root's own name (so that a
// repository-relative pattern such as "hdl/vendor" applies below the root
// "hdl"); for a file, each of these also without the file's suffix (so that
// "glbl" leaves out glbl.v). A root that is not a directory holds nothing. Special files are
// listed; reading them is the caller's business.
//
// With `respect_gitignore`, what the .gitignore files ignore is left out too:
// those of each root and the directories below it, and those of the root's
// ancestors up to the enclosing git work tree (a directory holding ".git").
// An inner file's verdict overrides an outer one's.
//
// `left_out`, when given, is told of each directory and HDL file that an
// exclusion pattern leaves out: its path and "excluded by pattern <pattern>".
struct LeftOut {
  std::string path;
  std::string reason;
};
std::vector<SourceFile> find_sources(const std::vector<std::string>& roots,
                                     const std::vector<WildcardPattern>& excludes, bool respect_gitignore,
                                     std::vector<LeftOut>* left_out = nullptr);

}  // namespace quarrix::resolver
