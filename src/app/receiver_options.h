#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/ipv4_network.h"

namespace orrin {

// The command line. Plain users give none; the defaults are the receiver as it always was.
struct ReceiverOptions {
  bool help = false;
  bool version = false;
  bool stats = false;     // --stats: a statistics line a second, a summary at exit
  bool decode = true;     // --no-decode: count pictures without decoding (ingest benchmark)
  bool quiet = false;     // --quiet: errors, start-up, connects, disconnects, summaries
  bool verbose = false;   // --verbose: every per-message line, not a sample
  bool hold = false;      // --hold: a casting sender is not replaced by a newcomer
  std::vector<Ipv4Network> allow;  // --allow CIDR[,CIDR...]: only these networks; empty: all
};

// Null with `error` set (one short line) for an option it does not know or a bad value.
std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args, std::string& error);
// --help: every option, the keys, the ports and the exit codes, from the same table the
// parser uses.
std::string ReceiverUsageText();

}  // namespace orrin
