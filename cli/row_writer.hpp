#pragma once
// The rows of quarrix-scan, rendered and written as the scan makes them.

#include <cstdio>
#include <optional>
#include <string>

#include "output_file.hpp"
#include "quarrix/util/json.hpp"

namespace quarrix::cli {

// json.dumps(rows, indent=2, ensure_ascii=False) ("json"), or one compact
// line per row ("jsonl"), C1 controls escaped; the "json" text ends with a
// line break.
std::string render(const Json& rows, const std::string& format);

// Writes rows one by one, rendered as render() renders them all at once, to
// --output's file (replaced whole by finish()) or to standard output. Holds
// about a megabyte of text at a time.
class RowWriter {
 public:
  RowWriter(std::string format, const std::optional<std::string>& output_file);

  void row(const Json& row);
  // Ends the text and puts it in place; without it an --output file is left as it was.
  void finish();
  std::size_t rows() const { return rows_; }

 private:
  void flush();

  std::string format_;
  std::optional<OutputFile> file_;
  std::string pending_;
  std::size_t rows_ = 0;
};

}  // namespace quarrix::cli
