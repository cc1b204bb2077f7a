// Runs the shared view's request decision over arbitrary requests (method, path, query and
// Cookie header, split at newlines) and checks what it promises: nothing outside the fixed
// answers is served, and with a token nothing is served to a request that does not carry it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "share/share_request.h"

namespace {

std::string_view NextPart(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view part = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const orrin::ShareRequest request{NextPart(rest), NextPart(rest), NextPart(rest), NextPart(rest)};
  constexpr std::string_view TOKEN = "room-42";

  const orrin::ShareDecision open = orrin::RouteShareRequest(request, {});
  const bool known = request.path == "/" || request.path == "/view.js" || request.path == "/view.css" ||
                     request.path == "/stream.mjpg" || request.path == "/snapshot.jpg" ||
                     request.path == "/sound.pcm" || request.path == "/status" || request.path == "/metrics";
  const bool method = request.method == "GET" || request.method == "HEAD";
  if (open.route == orrin::ShareRoute::Unauthorized || open.setTokenCookie) std::abort();
  if (!method && open.route != orrin::ShareRoute::MethodNotAllowed) std::abort();
  if (method && !known && open.route != orrin::ShareRoute::NotFound) std::abort();

  const orrin::ShareDecision guarded = orrin::RouteShareRequest(request, TOKEN);
  const bool carries = orrin::QueryValue(request.query, "token") == TOKEN ||
                       orrin::CookieValue(request.cookie, orrin::SHARE_TOKEN_COOKIE) == TOKEN;
  if ((guarded.route == orrin::ShareRoute::Unauthorized) == carries) std::abort();
  if (carries && guarded.route != open.route) std::abort();

  const std::string_view a = request.query, b = request.cookie;
  if (orrin::ConstantTimeEquals(a, b) != (a == b)) std::abort();

  std::string address, why;
  int port = 0;
  if (orrin::ParseShareEndpoint(request.method, address, port, why) && (port < 1 || port > 65535)) std::abort();
  if (orrin::ShareTokenProblem(request.path).empty() &&
      (request.path.empty() || request.path.size() > orrin::MAX_SHARE_TOKEN_LENGTH)) {
    std::abort();
  }
  return 0;
}
