#pragma once
// Where each provider's API is reached. The host part of an endpoint may be
// overridden per provider through an environment variable (tests, proxies).

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::llm {

// A validated override "scheme://host[:port]" (a trailing "/" is dropped), or
// nullopt. "https" is accepted for any host name or address; plain "http" only
// for loopback hosts (localhost, 127.0.0.0/8, [::1]), so that an API key never
// crosses a network in clear. No user info, path, query or fragment.
std::optional<std::string> parse_base_url(std::string_view value);

// The base URL from environment variable `env_var`, read now; `default_base`
// when it is unset, blank or not acceptable to parse_base_url.
std::string resolve_base_url(const char* env_var, std::string_view default_base);

}  // namespace quarrix::llm
