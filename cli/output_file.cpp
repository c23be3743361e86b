#include "output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace quarrix::cli {

namespace {

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    return;
  }

  std::error_code ec;
  fs::path target = exists ? fs::canonical(path, ec) : fs::path(path);
  if (ec) target = path;
  target_ = target.string();
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  fd_ = ::mkstemp(temp.data());
  if (fd_ < 0) fail(errno);
  temp_ = std::move(temp);
  const mode_t mode = exists ? old.st_mode & 07777 : 0666 & ~current_umask();
  if (::fchmod(fd_, mode) != 0) fail(errno);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

void OutputFile::fail(int error) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  throw OutputError("cannot write " + path_ + ": " + std::strerror(error));
}

void OutputFile::write(std::string_view text) {
  if (fd_ < 0) throw OutputError("cannot write " + path_ + ": already closed");
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void OutputFile::commit() {
  if (fd_ < 0) throw OutputError("cannot write " + path_ + ": already closed");
  if (!temp_.empty() && ::fsync(fd_) != 0) fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (temp_.empty()) return;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
  temp_.clear();
}

void write_output_file(const std::string& path, std::string_view text) {
  OutputFile file(path);
  file.write(text);
  file.commit();
}

}  // namespace quarrix::cli
