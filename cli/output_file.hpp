#pragma once
// Writing the rows to the file given with --output.

#include <stdexcept>
#include <string>
#include <string_view>

namespace quarrix::cli {

// The output could not be written; the message names the file and the cause.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Replaces `path` with `text` as a whole: the text goes to a temporary file in
// the same directory, which is flushed to disk and then renamed over `path`
// (a link is followed to the file it names). The new file keeps the old one's
// permission bits, or gets the usual ones for a new file. On any failure the
// temporary file is removed, `path` is left as it was and OutputError is thrown.
// A `path` that exists and is not a regular file (a device, a FIFO) is written
// in place.
void write_output_file(const std::string& path, std::string_view text);

}  // namespace quarrix::cli
