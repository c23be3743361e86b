#include "progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "quarrix/util/terminal_text.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::cli {

Progress::Progress(ProgressMode mode, std::function<std::string()> detail)
    : mode_(mode), detail_(std::move(detail)), start_(std::chrono::steady_clock::now()) {
  if (mode_ == ProgressMode::kLog) logger_ = std::thread([this] { log_every_interval(); });
}

Progress::~Progress() { clear(); }

void Progress::log_every_interval() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kLogInterval, [this] { return stopped_; })) {
    const std::string detail = detail_ ? detail_() : std::string();
    const std::string what =
        stage_.empty() ? std::to_string(done_) + "/" + std::to_string(total_) + " entities" : stage_;
    std::fprintf(stderr, "quarrix-scan: %s%s%s, %.0f s\n", what.c_str(), detail.empty() ? "" : ", ", detail.c_str(),
                 elapsed_seconds());
    std::fflush(stderr);
  }
}

double Progress::elapsed_seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::update(std::size_t index, std::size_t total, const std::string& name) {
  if (mode_ == ProgressMode::kTerminal) return show_on_terminal(index, total, name);
  const std::lock_guard<std::mutex> lock(mutex_);
  done_ = index;
  total_ = total;
}

void Progress::stage(std::string what) {
  if (mode_ == ProgressMode::kTerminal && !what.empty()) {
    std::fprintf(stderr, "\r\x1b[K%s", what.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  stage_ = std::move(what);
}

void Progress::show_on_terminal(std::size_t index, std::size_t total, const std::string& name) {
  char head[64];
  std::snprintf(head, sizeof head, "[%zu/%zu] ", index + 1, total);
  char tail[32];
  std::snprintf(tail, sizeof tail, "  %.1fs", elapsed_seconds());
  winsize ws{};
  const std::size_t width = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
  const std::size_t fixed = std::string_view(head).size() + std::string_view(tail).size() + 1;
  // Names come from the scanned sources: keep control characters off the terminal.
  std::string shown = util::terminal_safe(name, /*one_line=*/true);
  const std::size_t room = width > fixed ? width - fixed : 0;
  if (util::length(shown) > room) shown = util::slice(shown, 0, static_cast<std::ptrdiff_t>(room));
  std::fprintf(stderr, "\r\x1b[K%s%s%s", head, shown.c_str(), tail);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::clear() {
  if (logger_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_one();
    logger_.join();
  }
  if (mode_ != ProgressMode::kTerminal || !shown_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace quarrix::cli
