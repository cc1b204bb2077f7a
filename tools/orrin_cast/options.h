#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orrin::cast {

// What the command line asks for. Parsed by a pure function so every rule is testable.
struct Options {
  enum class Mode { Help, Version, Discover, Cast };
  Mode mode = Mode::Cast;

  // --discover
  double timeoutSeconds = 2.0;
  std::string probeTo = "255.255.255.255";
  bool tcp = false;

  // cast
  std::string host;
  int port = 9959;
  std::vector<std::string> jpegFiles;
  std::string jpegDir;
  int patternWidth = 0;  // 0: no pattern
  int patternHeight = 0;
  int quality = 80;
  std::optional<uint32_t> colour;  // --colour RRGGBB: --pattern pictures of that one colour
  long pregenerate = 0;  // --pattern: encode this many pictures first, then send them in turn
  size_t rawSize = 0;    // 0: off; else pictures of exactly this many bytes (not a valid JPEG)
  double fps = 30;  // 0: as fast as the link takes them
  std::optional<double> durationSeconds;
  std::optional<long> frames;
  std::string wavFile;
  double toneHz = 0;  // 0: no tone
  int soundBurst = 1;      // 20 ms frames sent together, every soundBurst x 20 ms
  double soundClock = 1;   // the sender's clock against real time: 1.005 sends 0.5 % fast
  bool ping = false;
  bool close = false;
  int fragment = 1;
  bool quiet = false;

  bool HasPictures() const { return !jpegFiles.empty() || !jpegDir.empty() || patternWidth > 0 || rawSize > 0; }
  bool HasSound() const { return !wavFile.empty() || toneHz > 0; }
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // set when options is empty
};

ParseResult ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace orrin::cast
