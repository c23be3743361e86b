#pragma once
// One listing of a repository's HDL files, shared by everything in a scan that
// walks the tree (define carriers, vendor-variant candidates).
//
// The walk matches pathlib's rglob("*" + ext) followed by is_file(): hidden
// files are included, names are matched case-sensitively, links to directories
// are not descended into (the start directory itself is followed), and only
// regular files (links followed) are kept. Special files are classified from
// their metadata and never opened.

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quarrix/hdl/language.hpp"

namespace quarrix::repo {

// Root-relative paths ("/" separators) of one walk, one group per entry of
// hdl::kHdlSuffixes (a file in the group of hdl::hdl_suffix_index of its name),
// each group sorted component by component. The first hdl::kVerilogSuffixCount
// groups are the Verilog family searched for define carriers.
using TreeListing = std::array<std::vector<std::string>, hdl::kHdlSuffixes.size()>;

// [first, last) of the paths in `sorted_paths` that lie below the directory
// `dir_rel` ("" for all). Paths below one directory are contiguous in
// component-wise order, so this is two binary searches.
std::pair<std::size_t, std::size_t> range_below(const std::vector<std::string>& sorted_paths, std::string_view dir_rel);

class RepoTree {
 public:
  // With `share_root_listing` false, every walk_from() lists only its own
  // directory: the cheaper choice for a single query.
  explicit RepoTree(std::string repo_path, bool share_root_listing = true);

  const std::string& root() const { return root_; }

  // The walk of the whole root, made on first use.
  const TreeListing& listing();

  // The walk that starts at the root-relative directory `dir_rel`: a view into
  // listing() (restrict it with range_below) when every component from the
  // root down to `dir_rel` is a real directory, otherwise (or when the root
  // listing is not shared) a walk of its own, following a link at its start
  // as rglob does, made once.
  struct Walk {
    const TreeListing* listing;
    std::string below;  // restrict each group to range_below(group, below)
    bool shared;        // true when `listing` is the root listing
  };
  Walk walk_from(std::string_view dir_rel);

 private:
  std::string root_;
  bool share_root_listing_;
  bool listed_ = false;
  TreeListing listing_;
  std::map<std::string, TreeListing, std::less<>> detached_;
  // Per directory asked for: whether a link lies on its way from the root.
  std::map<std::string, bool, std::less<>> through_link_;
};

}  // namespace quarrix::repo
