#pragma once
// The pieces of licence detection behind license.hpp.

#include <string>
#include <string_view>

namespace quarrix::license::detail {

// The GNU licence a notice states ("... under the terms of the GNU Lesser
// General Public License ... version 2.1"), as its "-only" identifier; or "".
// `flat` is the text with white space collapsed.
std::string gnu_notice_license(std::string_view flat);

// A GNU GPL, LGPL or AGPL identifier in its "-or-later" form when `flat` says
// "or (at your option) any later version" within 200 characters after naming
// that version; any other identifier as it is.
std::string with_later_versions(const std::string& id, std::string_view flat);

// Where a repository states its licence when its licence file does not: the
// README's SPDX line, LICENSE-* files (several: a choice, joined by " OR "),
// a LICENSES/ directory of one licence, the README's licence section; or "".
std::string license_beside_the_licence_file(const std::string& repo_path);

// The expression after "SPDX-License-Identifier:" on `line`, trimmed, without
// a closing "*/", "-->" or "--" (a boxed VHDL comment), at most 120 characters; "" when the line has none.
std::string spdx_expression_of_line(std::string_view line);

// The licence a README's licence section names: by the table, else by an
// identifier written as a word or a short name ("Apache 2.0", "CC BY 4.0").
std::string license_named_in(std::string_view section);

}  // namespace quarrix::license::detail
