#pragma once
// The error for IP entries, role maps and bucket maps of the wrong shape (a
// missing "name", a list where a map belongs, a non-string path or tag).

#include <quarrix/util/errors.hpp>

namespace quarrix::aggregate {

using MalformedEntryError = ErrorOf<ErrorKind::kMalformedEntry>;

}  // namespace quarrix::aggregate
