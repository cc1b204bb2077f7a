#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orrin {

// What the shared view serves. Everything else is NotFound: there are no files behind it.
enum class ShareRoute {
  Page,           // "/"
  Script,         // "/view.js"
  Style,          // "/view.css"
  PictureStream,  // "/stream.mjpg"
  Snapshot,       // "/snapshot.jpg"
  SoundStream,    // "/sound.pcm"
  Status,         // "/status"
  Metrics,        // "/metrics"
  NotFound,
  MethodNotAllowed,
  Unauthorized,
};

// The parts of a request the decision needs, as they arrived (nothing decoded).
struct ShareRequest {
  std::string_view method;
  std::string_view path;    // without the query
  std::string_view query;   // after '?', empty when none
  std::string_view cookie;  // the Cookie header, empty when none
};

struct ShareDecision {
  ShareRoute route = ShareRoute::NotFound;
  // The token came in the query: the answer sets the cookie, so the page's own requests
  // (script, streams, status) carry it without it in every address.
  bool setTokenCookie = false;
  bool headOnly = false;
};

constexpr const char* SHARE_TOKEN_COOKIE = "orrin_share_token";
constexpr size_t MAX_SHARE_TOKEN_LENGTH = 128;

// Routes a request. With a non-empty `token`, a request without it (in `?token=` or the
// cookie) is Unauthorized whatever it asks for.
ShareDecision RouteShareRequest(const ShareRequest& request, std::string_view token);

// Compares in time that depends on the lengths only, never on where the texts differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// The raw value of `name` in a query ("a=1&token=x") or a Cookie header ("a=1; b=2").
std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name);
std::optional<std::string_view> CookieValue(std::string_view cookie, std::string_view name);

// "[ADDR:]PORT" of --share: a dotted IPv4 address (none: every interface) and a port from 1
// to 65535. False with `why` set otherwise.
bool ParseShareEndpoint(std::string_view text, std::string& address, int& port, std::string& why);

// The Date header's text for `unixSeconds` ("Sun, 06 Nov 1994 08:49:37 GMT"), computed
// without gmtime(), whose one static result civetweb's own Date would share between threads.
std::string HttpDate(int64_t unixSeconds);

// Empty when `token` may be used; otherwise why not. Tokens are 1 to 128 characters that
// need no escaping in an address: letters, digits and "-._~".
std::string ShareTokenProblem(std::string_view token);

}  // namespace orrin
