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

// Replaces `path` as a whole with what is written to it: the text goes to a
// temporary file in the same directory, which commit() flushes to disk and
// renames over `path` (a link is followed to the file it names). The new file
// keeps the old one's permission bits, or gets the usual ones for a new file.
// On any failure, or when destroyed before commit(), the temporary file is
// removed and `path` is left as it was; failures throw OutputError. A `path`
// that exists and is not a regular file (a device, a FIFO) is written in place.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view text);
  void commit();

 private:
  [[noreturn]] void fail(int error);

  std::string path_;    // as given, for messages
  std::string target_;  // what the temporary file replaces
  std::string temp_;    // empty when writing in place
  int fd_ = -1;
};

// An OutputFile holding `text`.
void write_output_file(const std::string& path, std::string_view text);

}  // namespace quarrix::cli
