#pragma once
// libcurl, opened at the first provider call instead of at start-up: linked in,
// it and the ~30 libraries it needs cost every scan a few milliseconds of
// relocation, although most scans never make a request.

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

namespace quarrix::llm {

// The few libcurl functions the HTTP client calls, with their own types.
struct CurlApi {
  decltype(&curl_global_init) global_init;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_multi_init) multi_init;
  decltype(&curl_multi_cleanup) multi_cleanup;
  decltype(&curl_multi_add_handle) multi_add_handle;
  decltype(&curl_multi_remove_handle) multi_remove_handle;
  decltype(&curl_multi_perform) multi_perform;
  decltype(&curl_multi_poll) multi_poll;
  decltype(&curl_multi_info_read) multi_info_read;
};

// The library, opened and globally initialised once per process; nullptr when
// it is not installed, lacks a function, or does not initialise.
const CurlApi* curl_api();

}  // namespace quarrix::llm
