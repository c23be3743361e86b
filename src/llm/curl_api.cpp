#include "curl_api.hpp"

#include <dlfcn.h>

namespace quarrix::llm {

namespace {

// The Debian libcurl4 soname; the library stays open for the process's life.
constexpr const char* kCurlLibrary = "libcurl.so.4";

template <typename Function>
bool bind(void* library, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(dlsym(library, name));
  return slot != nullptr;
}

const CurlApi* open_curl() {
  static CurlApi api;
  void* library = dlopen(kCurlLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  const bool bound =
      bind(library, "curl_global_init", api.global_init) && bind(library, "curl_slist_append", api.slist_append) &&
      bind(library, "curl_slist_free_all", api.slist_free_all) && bind(library, "curl_easy_init", api.easy_init) &&
      bind(library, "curl_easy_cleanup", api.easy_cleanup) && bind(library, "curl_easy_setopt", api.easy_setopt) &&
      bind(library, "curl_easy_getinfo", api.easy_getinfo) && bind(library, "curl_multi_init", api.multi_init) &&
      bind(library, "curl_multi_cleanup", api.multi_cleanup) &&
      bind(library, "curl_multi_add_handle", api.multi_add_handle) &&
      bind(library, "curl_multi_remove_handle", api.multi_remove_handle) &&
      bind(library, "curl_multi_perform", api.multi_perform) && bind(library, "curl_multi_poll", api.multi_poll) &&
      bind(library, "curl_multi_info_read", api.multi_info_read);
  if (!bound || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
  return &api;
}

}  // namespace

const CurlApi* curl_api() {
  static const CurlApi* const api = open_curl();
  return api;
}

}  // namespace quarrix::llm
