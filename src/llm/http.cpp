#include "quarrix/llm/http.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "curl_api.hpp"
#include "quarrix/llm/sleep.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

namespace {

using Clock = std::chrono::steady_clock;

// Only called once curl_api() has given a library.
const CurlApi& curl() { return *curl_api(); }

struct SlistFree {
  void operator()(curl_slist* list) const { curl().slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

bool is_token_char(unsigned char c) {
  const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return alnum || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool valid_header(std::string_view name, std::string_view value) {
  if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return is_token_char(c); })) return false;
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool ascii_iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool is_https(std::string_view url) { return url.size() >= 8 && ascii_iequal(url.substr(0, 8), "https://"); }

// The caller's fields, then suppressions of libcurl's own "Accept" and
// "Expect: 100-continue" unless the caller set them: the server sees what the
// caller sent plus the framing fields. nullopt when a field is unsafe.
std::optional<HeaderList> build_header_list(const Headers& headers) {
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* head = curl().slist_append(list.get(), line.c_str());
    if (!head) return false;
    if (!list) list.reset(head);
    return true;
  };
  for (const auto& [name, value] : headers) {
    if (!valid_header(name, value)) return std::nullopt;
    // libcurl drops "Name:" with a blank value; "Name;" sends it empty.
    const bool blank = value.find_first_not_of(" \t") == std::string::npos;
    if (!append(blank ? name + ";" : name + ": " + value)) return std::nullopt;
  }
  for (const char* own : {"Accept", "Expect"}) {
    const bool set =
        std::any_of(headers.begin(), headers.end(), [own](const auto& h) { return ascii_iequal(h.first, own); });
    if (!set && !append(std::string(own) + ":")) return std::nullopt;
  }
  return list;
}

// State shared with libcurl's callbacks during one attempt.
struct Transfer {
  CURL* easy = nullptr;
  std::string_view body;
  std::size_t sent = 0;
  std::string received;
  long status = 0;  // final status, once its header block has ended
  bool oversized = false;
  Clock::time_point last_activity = Clock::now();
};

size_t on_read(char* buffer, size_t size, size_t count, void* data) {
  auto* t = static_cast<Transfer*>(data);
  const size_t n = std::min(size * count, t->body.size() - t->sent);
  std::memcpy(buffer, t->body.data() + t->sent, n);
  t->sent += n;
  t->last_activity = Clock::now();
  return n;
}

size_t on_header(char* buffer, size_t size, size_t count, void* data) {
  auto* t = static_cast<Transfer*>(data);
  const size_t n = size * count;
  t->last_activity = Clock::now();
  const std::string_view line(buffer, n);
  if (line == "\r\n" || line == "\n") {
    long code = 0;
    curl().easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200) {  // 1xx answers are interim
      t->status = code;
      if (code >= 300) return 0;  // stop: an error answer's body is not read
    }
  }
  return n;
}

size_t on_write(char* buffer, size_t size, size_t count, void* data) {
  auto* t = static_cast<Transfer*>(data);
  const size_t n = size * count;
  t->last_activity = Clock::now();
  if (t->received.size() + n > kMaxResponseBytes) {
    t->oversized = true;
    return 0;
  }
  t->received.append(buffer, n);
  return n;
}

enum class Delivery { answered, undelivered, failed };

struct Attempt {
  Delivery delivery = Delivery::failed;
  long status = 0;
  std::string body;
};

// Failures before the request reached the server, and time-outs.
Delivery delivery_failure(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return Delivery::undelivered;
    default: return Delivery::failed;
  }
}

struct EasyFree {
  void operator()(CURL* easy) const { curl().easy_cleanup(easy); }
};
struct MultiFree {
  void operator()(CURLM* multi) const { curl().multi_cleanup(multi); }
};

// One easy handle driven by a multi handle, so that the wait for data is ours
// to bound: the attempt times out after `timeout` seconds without a byte moving
// (connection set-up included), and after `deadline` seconds in all, however
// steadily a slow server keeps bytes moving.
class Session {
 public:
  Session(CURL* easy, CURLM* multi) : easy_(easy), multi_(multi) {
    added_ = easy_ && multi_ && curl().multi_add_handle(multi_.get(), easy_.get()) == CURLM_OK;
  }
  ~Session() {
    if (added_) curl().multi_remove_handle(multi_.get(), easy_.get());
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  CURL* easy() const { return easy_.get(); }
  bool ready() const { return added_; }

  // nullopt on a time-out, else libcurl's result of the transfer.
  std::optional<CURLcode> run(const Transfer& t, double timeout, double deadline) {
    using Seconds = std::chrono::duration<double>;
    const auto start = Clock::now();
    int running = 1;
    for (;;) {
      if (curl().multi_perform(multi_.get(), &running) != CURLM_OK) return CURLE_FAILED_INIT;
      if (running == 0) break;
      const auto now = Clock::now();
      const double idle_left = timeout - Seconds(now - t.last_activity).count();
      const double left = std::min(idle_left, deadline - Seconds(now - start).count());
      if (left <= 0) return std::nullopt;
      const int wait_ms = static_cast<int>(std::clamp(std::ceil(left * 1000.0), 1.0, 1000.0));
      if (curl().multi_poll(multi_.get(), nullptr, 0, wait_ms, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg* msg = curl().multi_info_read(multi_.get(), &queued))
      if (msg->msg == CURLMSG_DONE) result = msg->data.result;
    return result;
  }

 private:
  std::unique_ptr<CURL, EasyFree> easy_;
  std::unique_ptr<CURLM, MultiFree> multi_;
  bool added_ = false;
};

Attempt send_once(const std::string& url, curl_slist* headers, std::string_view body, double timeout, double deadline) {
  Session session(curl().easy_init(), curl().multi_init());
  if (!session.ready()) return {Delivery::failed, 0, {}};
  CURL* easy = session.easy();
  Transfer t;
  t.easy = easy;
  t.body = body;

  curl().easy_setopt(easy, CURLOPT_URL, url.c_str());
  // A proxy may relay TLS (CONNECT), but would read a plain request and its
  // credentials: plain requests go direct.
  if (!is_https(url)) curl().easy_setopt(easy, CURLOPT_PROXY, "");
  curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl().easy_setopt(easy, CURLOPT_POST, 1L);
  curl().easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl().easy_setopt(easy, CURLOPT_READFUNCTION, on_read);
  curl().easy_setopt(easy, CURLOPT_READDATA, &t);
  curl().easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl().easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  curl().easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_write);
  curl().easy_setopt(easy, CURLOPT_WRITEDATA, &t);

  t.last_activity = Clock::now();
  const std::optional<CURLcode> result = session.run(t, timeout, deadline);
  if (!result) return {Delivery::undelivered, 0, {}};
  if (t.oversized) return {Delivery::failed, 0, {}};
  if (t.status >= 300 || (*result == CURLE_OK && t.status >= 200))
    return {Delivery::answered, t.status, std::move(t.received)};
  return {delivery_failure(*result), 0, {}};
}

}  // namespace

Reply http_post_with_retry(std::string_view url, const Headers& headers, std::string_view body,
                           const RetryPolicy& policy, const SleepFunction& sleep) {
  const Reply other{std::nullopt, "other"};
  const auto usable = [](double seconds) { return std::isfinite(seconds) && seconds > 0; };
  const long long max_retries = policy.max_retries;
  if (max_retries <= 0 || !usable(policy.timeout) || !usable(policy.deadline) || !curl_api()) return other;
  std::optional<HeaderList> header_list = build_header_list(headers);
  if (!header_list) return other;
  const std::string url_text(url);

  for (long long attempt = 0; attempt < max_retries; ++attempt) {
    Attempt a = send_once(url_text, header_list->get(), body, policy.timeout, policy.deadline);
    std::string outcome;
    if (a.delivery == Delivery::answered) {
      if (a.status >= 200 && a.status < 300) return {util::decode_utf8_replace(a.body), "ok"};
      if (a.status == 401 || a.status == 403) return {std::nullopt, "403"};
      if (a.status == 429)
        outcome = "429";
      else if (a.status >= 500 && a.status <= 599)
        outcome = "5xx";
      else
        return other;
    } else if (a.delivery == Delivery::undelivered) {
      outcome = "timeout";
    } else {
      return other;
    }
    if (attempt == max_retries - 1) return {std::nullopt, outcome};
    pause_for(sleep, kBackoffDelays[static_cast<std::size_t>(std::min<long long>(attempt, 2))]);
  }
  return other;
}

}  // namespace quarrix::llm
