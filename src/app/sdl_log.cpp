#include "app/sdl_log.h"

#include <SDL.h>

#include <string_view>

#include "support/log.h"
#include "support/log_escape.h"

namespace orrin {
namespace {

const char* PriorityWord(int priority) {
  switch (priority) {
    case SDL_LOG_PRIORITY_VERBOSE:
      return "VERBOSE";
    case SDL_LOG_PRIORITY_DEBUG:
      return "DEBUG";
    case SDL_LOG_PRIORITY_INFO:
      return "INFO";
    case SDL_LOG_PRIORITY_WARN:
      return "WARN";
    case SDL_LOG_PRIORITY_ERROR:
      return "ERROR";
    case SDL_LOG_PRIORITY_CRITICAL:
      return "CRITICAL";
    default:
      return "LOG";
  }
}

void Forward(void*, int, SDL_LogPriority priority, const char* text) {
  const std::string message = SdlLogMessage(priority, text);
  if (priority >= SDL_LOG_PRIORITY_ERROR) {
    LogError(message);
  } else {
    LogInfo(message);
  }
}

}  // namespace

std::string SdlLogMessage(int priority, const char* text) {
  std::string_view body = text != nullptr ? text : "";
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
  // Driver and device names reach SDL's texts from outside our code: keep them to one line.
  return std::string("SDL ") + PriorityWord(priority) + ": " + EscapeForLog(body);
}

void RouteSdlLogThroughOurs() { SDL_LogSetOutputFunction(Forward, nullptr); }

}  // namespace orrin
