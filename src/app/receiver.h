#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orrin {

// The information shown once the receiver is up: who it is, where, and how to use it.
std::string StartupInfoText(const std::string& computerName, const std::string& localIP, int port);

// Whether SDL's chosen video driver shows windows to a person: the windowless drivers
// (offscreen, dummy) count only when SDL_VIDEODRIVER names them.
bool IsRealDisplayDriver(const char* driver, const char* requested);

// The command line. Plain users give none; the rest serve measurement.
struct ReceiverOptions {
  bool help = false;
  bool stats = false;     // --stats: a statistics line a second, a summary at exit
  bool decode = true;     // --no-decode: count pictures without decoding (ingest benchmark)
  bool quiet = false;     // --quiet: errors, start-up, connects and disconnects only
  bool verbose = false;   // --verbose: every per-message line
};
// Null with `error` set for an option it does not know.
std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args, std::string& error);
std::string ReceiverUsageText();

// The whole process: window (or none, when no display can be opened), services, event
// loop, orderly stop. Returns the exit code: 0 after a normal close or SIGINT/SIGTERM,
// 1 when start-up fails, 2 for a bad command line.
int RunReceiver(const std::vector<std::string>& args = {});

}  // namespace orrin
