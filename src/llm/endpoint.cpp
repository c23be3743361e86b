#include "quarrix/llm/endpoint.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

#include "quarrix/util/env.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

namespace {

bool is_host_name(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
  });
}

std::optional<in6_addr> ipv6_address(std::string_view bracketed) {
  if (bracketed.size() < 3 || bracketed.front() != '[' || bracketed.back() != ']') return std::nullopt;
  const std::string inner(bracketed.substr(1, bracketed.size() - 2));
  in6_addr addr{};
  if (inet_pton(AF_INET6, inner.c_str(), &addr) != 1) return std::nullopt;
  return addr;
}

bool is_loopback(std::string_view host) {
  if (util::lower(host) == "localhost") return true;
  if (const auto v6 = ipv6_address(host)) return IN6_IS_ADDR_LOOPBACK(&*v6);
  in_addr v4{};
  const std::string text(host);
  return inet_pton(AF_INET, text.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool is_port(std::string_view port) {
  if (port.empty() || port.size() > 5 || port.front() == '0') return false;
  if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  return std::stoi(std::string(port)) <= 65535;
}

}  // namespace

std::optional<std::string> parse_base_url(std::string_view value) {
  std::string_view v = util::strip(value);
  if (!v.empty() && v.back() == '/') v.remove_suffix(1);
  const std::size_t sep = v.find("://");
  if (sep == std::string_view::npos) return std::nullopt;
  const std::string scheme = util::lower(v.substr(0, sep));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const std::string_view authority = v.substr(sep + 3);

  std::string_view host;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    rest = authority.substr(close + 1);
    if (!ipv6_address(host)) return std::nullopt;
  } else {
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    if (!is_host_name(host)) return std::nullopt;
  }
  if (!rest.empty() && (rest.front() != ':' || !is_port(rest.substr(1)))) return std::nullopt;
  if (scheme == "http" && !is_loopback(host)) return std::nullopt;
  return scheme + "://" + std::string(authority);
}

std::string resolve_base_url(const char* env_var, std::string_view default_base) {
  if (const auto value = util::getenv_str(env_var))
    if (auto base = parse_base_url(*value)) return *base;
  return std::string(default_base);
}

}  // namespace quarrix::llm
