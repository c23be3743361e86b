#include "row_writer.hpp"

#include <stdexcept>

namespace quarrix::cli {

namespace {

// json.dumps's text, but with C1 controls escaped, so that a terminal showing
// the output stays a terminal.
constexpr util::JsonStyle kIndented{.indent = 2, .item_separator = ",", .ensure_ascii = false, .escape_c1 = true};
constexpr util::JsonStyle kLine{
    .indent = std::nullopt, .item_separator = ",", .key_separator = ":", .ensure_ascii = false, .escape_c1 = true};
constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

std::string render(const Json& rows, const std::string& format) {
  if (format == "json") return util::dumps_python(rows, kIndented) + "\n";
  std::string out;
  for (const auto& row : rows) out += util::dumps_python(row, kLine) + "\n";
  return out;
}

RowWriter::RowWriter(std::string format, const std::optional<std::string>& output_file) : format_(std::move(format)) {
  if (output_file) file_.emplace(*output_file);
}

// A row of the indented array is the row alone, one level deeper: a JSON
// text holds line breaks only between its tokens.
void RowWriter::row(const Json& row) {
  if (format_ == "json") {
    pending_ += rows_ == 0 ? "[\n  " : ",\n  ";
    const std::string text = util::dumps_python(row, kIndented);
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
      pending_.append(text, from, nl + 1 - from).append("  ");
    pending_.append(text, from);
  } else {
    pending_ += util::dumps_python(row, kLine);
    pending_ += '\n';
  }
  ++rows_;
  if (pending_.size() >= kFlushBytes) flush();
}

void RowWriter::finish() {
  if (format_ == "json") pending_ += rows_ == 0 ? "[]\n" : "\n]\n";
  flush();
  if (file_) {
    file_->commit();
  } else if (std::fflush(stdout) != 0) {
    throw std::runtime_error("cannot write the rows to standard output");
  }
}

void RowWriter::flush() {
  if (file_) {
    file_->write(pending_);
  } else if (std::fwrite(pending_.data(), 1, pending_.size(), stdout) != pending_.size()) {
    throw std::runtime_error("cannot write the rows to standard output");
  }
  pending_.clear();
}

}  // namespace quarrix::cli
