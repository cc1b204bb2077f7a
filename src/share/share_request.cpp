#include "share/share_request.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <utility>

#include "net/socket_platform.h"

namespace orrin {

namespace {

constexpr std::array<std::pair<std::string_view, ShareRoute>, 8> ROUTES{{
    {"/", ShareRoute::Page},
    {"/view.js", ShareRoute::Script},
    {"/view.css", ShareRoute::Style},
    {"/stream.mjpg", ShareRoute::PictureStream},
    {"/snapshot.jpg", ShareRoute::Snapshot},
    {"/sound.pcm", ShareRoute::SoundStream},
    {"/status", ShareRoute::Status},
    {"/metrics", ShareRoute::Metrics},
}};

bool IsTokenCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Each `separator`-delimited "name=value" item in turn; the first whose name matches.
std::optional<std::string_view> ValueIn(std::string_view items, char separator, std::string_view name) {
  while (!items.empty()) {
    const size_t end = items.find(separator);
    const std::string_view item = Trim(items.substr(0, end));
    items = end == std::string_view::npos ? std::string_view{} : items.substr(end + 1);
    const size_t equals = item.find('=');
    if (equals != std::string_view::npos && item.substr(0, equals) == name) return item.substr(equals + 1);
  }
  return std::nullopt;
}

}  // namespace

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // Every byte of `a` is looked at whatever `b` holds; a length mismatch only sets a bit.
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char other = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    difference |= static_cast<unsigned>(static_cast<unsigned char>(a[i]) ^ other);
  }
  return difference == 0;
}

std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name) {
  return ValueIn(query, '&', name);
}

std::optional<std::string_view> CookieValue(std::string_view cookie, std::string_view name) {
  return ValueIn(cookie, ';', name);
}

bool ParseShareEndpoint(std::string_view text, std::string& address, int& port, std::string& why) {
  const size_t colon = text.rfind(':');
  const std::string_view portText = colon == std::string_view::npos ? text : text.substr(colon + 1);
  const std::string host(colon == std::string_view::npos ? std::string_view{} : text.substr(0, colon));
  int number = 0;
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), number);
  if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || number < 1 ||
      number > 65535) {
    why = "needs a port from 1 to 65535, optionally after an IPv4 address and a colon";
    return false;
  }
  in_addr parsed{};
  if (colon != std::string_view::npos && inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
    why = "the address before the port must be an IPv4 address such as 192.168.1.20";
    return false;
  }
  address = host;
  port = number;
  return true;
}

std::string HttpDate(int64_t unixSeconds) {
  static constexpr const char* DAYS[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01: Thursday
  static constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int64_t days = unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
  const int64_t secondOfDay = unixSeconds - days * 86400;
  const char* weekday = DAYS[((days % 7) + 7) % 7];
  // Days to a civil date (proleptic Gregorian), counted in 400-year eras from 0000-03-01.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
  const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", weekday, static_cast<int>(day),
                MONTHS[month - 1], static_cast<long long>(year), static_cast<int>(secondOfDay / 3600),
                static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
  return text;
}

std::string ShareTokenProblem(std::string_view token) {
  if (token.empty()) return "needs a token";
  if (token.size() > MAX_SHARE_TOKEN_LENGTH) return "a token has at most 128 characters";
  for (char c : token) {
    if (!IsTokenCharacter(c)) return "a token holds only letters, digits and - . _ ~";
  }
  return {};
}

ShareDecision RouteShareRequest(const ShareRequest& request, std::string_view token) {
  ShareDecision decision;
  if (!token.empty()) {
    const std::optional<std::string_view> fromQuery = QueryValue(request.query, "token");
    const std::optional<std::string_view> fromCookie = CookieValue(request.cookie, SHARE_TOKEN_COOKIE);
    if (fromQuery && ConstantTimeEquals(token, *fromQuery)) {
      decision.setTokenCookie = true;
    } else if (!(fromCookie && ConstantTimeEquals(token, *fromCookie))) {
      decision.route = ShareRoute::Unauthorized;
      return decision;
    }
  }
  if (request.method == "HEAD") {
    decision.headOnly = true;
  } else if (request.method != "GET") {
    decision.route = ShareRoute::MethodNotAllowed;
    return decision;
  }
  for (const auto& [path, route] : ROUTES) {
    if (request.path == path) {
      decision.route = route;
      return decision;
    }
  }
  decision.route = ShareRoute::NotFound;
  return decision;
}

}  // namespace orrin
