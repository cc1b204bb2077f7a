#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orrin {

// One line per call: "[HH:MM:SS] " in local time, "ERROR: " for errors, the message as it
// stands, a line feed. Information goes to stdout, errors to stderr. Safe from any thread.
void LogInfo(const std::string& message);
void LogError(const std::string& message);

// Builds the line exactly as it is written (exposed for tests).
std::string FormatLogLine(int hour, int minute, int second, bool isError, std::string_view message);

// Tests observe what the program logs without touching the standard streams' contents:
// the sink sees every finished line (after it was written to its stream). Pass an empty
// function to remove it.
using LogSink = std::function<void(bool isError, const std::string& line)>;
void SetLogSink(LogSink sink);

}  // namespace orrin
