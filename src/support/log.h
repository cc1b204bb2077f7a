#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orrin {

// One line per call: "[HH:MM:SS] " in local time, "ERROR: " for errors, the message as it
// stands, a line feed. Information goes to stdout, errors to stderr. Safe from any thread,
// and never waits for whoever reads the streams: lines are queued for one writer thread
// (see LogWriter), which drains them at exit for at most a second.
void LogInfo(const std::string& message);
void LogError(const std::string& message);

// How much a person wants to read. Quiet keeps errors, start-up, connects, disconnects and
// thinned summaries; Normal adds the progress of a cast at a few lines a second (a
// sample of the per-message lines); Verbose writes every per-message line.
enum class LogLevel { Quiet, Normal, Verbose };
void SetLogLevel(LogLevel level);
LogLevel CurrentLogLevel();

// A progress line about the cast (pictures, sound, paints): written unless Quiet. The
// callers keep their own every-Nth counters.
void LogProgress(const std::string& message);

// Builds the line exactly as it is written (exposed for tests).
std::string FormatLogLine(int hour, int minute, int second, bool isError, std::string_view message);
// The same, stamped with the local time now.
std::string StampedLogLine(bool isError, std::string_view message);

// Waits until every line logged so far has reached its stream; gives up after `deadline`
// or when the streams take nothing for a quarter of a second. True when all were written.
bool FlushLog(int deadlineMs = 1000);

// Tests observe what the program logs without touching the standard streams' contents:
// the sink sees every finished line, on the logging thread, as it is queued. Pass an
// empty function to remove it.
using LogSink = std::function<void(bool isError, const std::string& line)>;
void SetLogSink(LogSink sink);

}  // namespace orrin
