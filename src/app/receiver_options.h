#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/ipv4_network.h"
#include "app/window_options.h"

namespace orrin {

// The highest --max-fps taken.
constexpr int MAX_FPS_LIMIT = 240;
// The most senders shown at once (--senders).
constexpr int MAX_SENDERS = 4;

// The command line. Plain users give none; the defaults are the receiver as it always was.
struct ReceiverOptions {
  bool help = false;
  bool version = false;
  bool stats = false;     // --stats: a statistics line a second, a summary at exit
  bool decode = true;     // --no-decode: count pictures without decoding (ingest benchmark)
  bool quiet = false;     // --quiet: errors, start-up, connects, disconnects, summaries
  bool verbose = false;   // --verbose: every per-message line, not a sample
  int maxFps = 0;         // --max-fps N: take in and show up to N pictures a second (0: 50 in, 30 shown)
  bool hold = false;      // --hold: a casting sender is not replaced by a newcomer
  std::vector<Ipv4Network> allow;  // --allow CIDR[,CIDR...]: only these networks; empty: all
  bool approve = false;   // --approve: a sender from an address not yet let in waits for Y or N
  std::string record;     // --record FILE: every sender into FILE (later ones FILE-2, ...)
  int sharePort = 0;         // --share [ADDR:]PORT: the shared view over HTTP; 0: none
  std::string shareAddress;  // its IPv4 address; empty: every interface
  std::string shareToken;    // --share-token TOKEN: viewers must bring it
  WindowOptions window;   // --fullscreen, --keep-aspect, --always-on-top, --display N, --no-screensaver,
                          // --senders N
};

// Null with `error` set (one short line) for an option it does not know or a bad value.
std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args, std::string& error);
// --help: every option, the keys, the ports and the exit codes, from the same table the
// parser uses.
std::string ReceiverUsageText();

}  // namespace orrin
