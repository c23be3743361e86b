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

[[noreturn]] void fail(const std::string& path, int error) {
  throw OutputError("cannot write " + path + ": " + std::strerror(error));
}

// 0 or the errno of the first failed write.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void write_in_place(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) fail(path, errno);
  int error = write_all(fd, text);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) fail(path, error);
}

}  // namespace

void write_output_file(const std::string& path, std::string_view text) {
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    write_in_place(path, text);
    return;
  }

  std::error_code ec;
  fs::path target = exists ? fs::canonical(path, ec) : fs::path(path);
  if (ec) target = path;
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) fail(path, errno);

  const mode_t mode = exists ? old.st_mode & 07777 : 0666 & ~current_umask();
  int error = ::fchmod(fd, mode) != 0 ? errno : 0;
  if (error == 0) error = write_all(fd, text);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    fail(path, error);
  }
}

}  // namespace quarrix::cli
