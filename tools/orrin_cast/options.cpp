#include "options.h"

#include <charconv>
#include <cmath>

namespace orrin::cast {
namespace {

bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(out);
}

bool ParseInteger(const std::string& text, long& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

bool ParsePort(const std::string& text, int& port) {
  long value = 0;
  if (!ParseInteger(text, value) || value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

std::string UsageText() {
  return R"(orrin-cast: send pictures and sound to an Orrin receiver, or find receivers.

usage:
  orrin-cast --discover [--timeout S] [--probe-to ADDR] [--tcp]
  orrin-cast HOST[:PORT] [pictures] [sound] [options]

finding receivers:
  --discover          send both discovery probes and list each answer (NAME, IP, PORT)
  --timeout S         how long to wait for answers (default 2)
  --probe-to ADDR     probe one address instead of broadcasting to 255.255.255.255
  --tcp               probe TCP port 8889 of --probe-to instead of UDP port 8888

pictures (one of):
  --jpeg FILE...      these JPEG files, in a loop
  --jpeg-dir DIR      every *.jpg/*.jpeg file of DIR, in name order, in a loop
  --pattern WxH       a generated moving test picture with a frame counter
  --quality Q         JPEG quality of --pattern, 1-100 (default 80)
  --pregenerate N     encode N --pattern pictures before sending and send them in turn,
                      so encoding does not hold the sender back (benchmarks)
  --raw-size BYTES    pictures of exactly BYTES bytes: a JPEG start marker and noise, for
                      measuring the link with a receiver that does not decode (benchmarks)
  --fps N             pictures per second (default 30; 0 = as fast as the link takes them)
  --duration S        stop after S seconds
  --frames N          stop after N pictures

sound (16 kHz mono 16-bit PCM, sent in 20 ms frames at real-time pace):
  --wav FILE          a 16 kHz mono 16-bit PCM WAV file
  --tone HZ           a sine tone
  --sound-burst N     send N frames at once every N x 20 ms, as a jittery link delivers them
  --sound-clock R     the sender's clock runs R times real time (1.005: 0.5 % fast)

link:
  --ping              send a ping first and wait for its pong
  --close             end with a close frame (otherwise the TCP connection is just closed)
  --fragment N        split every message into N WebSocket frames
  --quiet             no progress line

  --help, --version

exit codes: 0 done, 2 bad arguments or input, 3 could not connect,
            4 handshake refused, 5 connection lost
)";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  Options o;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
  bool sawDiscover = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      o.mode = Options::Mode::Help;
      return {o, ""};
    } else if (a == "--version") {
      o.mode = Options::Mode::Version;
      return {o, ""};
    } else if (a == "--discover") {
      sawDiscover = true;
    } else if (a == "--tcp") {
      o.tcp = true;
    } else if (a == "--timeout") {
      if (!value(v) || !ParseNumber(v, o.timeoutSeconds) || o.timeoutSeconds <= 0)
        return fail("--timeout needs a number of seconds above 0");
    } else if (a == "--probe-to") {
      if (!value(o.probeTo) || o.probeTo.empty()) return fail("--probe-to needs an address");
    } else if (a == "--jpeg") {
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.jpegFiles.push_back(args[++i]);
      if (o.jpegFiles.empty()) return fail("--jpeg needs at least one file");
    } else if (a == "--jpeg-dir") {
      if (!value(o.jpegDir)) return fail("--jpeg-dir needs a directory");
    } else if (a == "--pattern") {
      if (!value(v)) return fail("--pattern needs a size such as 1280x720");
      size_t x = v.find('x');
      long w = 0, h = 0;
      if (x == std::string::npos || !ParseInteger(v.substr(0, x), w) || !ParseInteger(v.substr(x + 1), h) ||
          w < 16 || h < 16 || w > 8192 || h > 8192)
        return fail("--pattern needs a size WxH with sides from 16 to 8192, such as 1280x720");
      o.patternWidth = static_cast<int>(w);
      o.patternHeight = static_cast<int>(h);
    } else if (a == "--quality") {
      long q = 0;
      if (!value(v) || !ParseInteger(v, q) || q < 1 || q > 100) return fail("--quality needs a number from 1 to 100");
      o.quality = static_cast<int>(q);
    } else if (a == "--pregenerate") {
      long n = 0;
      if (!value(v) || !ParseInteger(v, n) || n < 1 || n > 1000) return fail("--pregenerate needs a number from 1 to 1000");
      o.pregenerate = n;
    } else if (a == "--raw-size") {
      long n = 0;
      if (!value(v) || !ParseInteger(v, n) || n < 16 || n > 64L * 1024 * 1024)
        return fail("--raw-size needs a number of bytes from 16 to 67108864");
      o.rawSize = static_cast<size_t>(n);
    } else if (a == "--fps") {
      if (!value(v) || !ParseNumber(v, o.fps) || o.fps < 0 || o.fps > 1000)
        return fail("--fps needs a number from 0 to 1000");
    } else if (a == "--duration") {
      double d = 0;
      if (!value(v) || !ParseNumber(v, d) || d <= 0) return fail("--duration needs a number of seconds above 0");
      o.durationSeconds = d;
    } else if (a == "--frames") {
      long n = 0;
      if (!value(v) || !ParseInteger(v, n) || n < 1) return fail("--frames needs a whole number above 0");
      o.frames = n;
    } else if (a == "--wav") {
      if (!value(o.wavFile)) return fail("--wav needs a file");
    } else if (a == "--tone") {
      if (!value(v) || !ParseNumber(v, o.toneHz) || o.toneHz <= 0 || o.toneHz >= 8000)
        return fail("--tone needs a frequency above 0 and below 8000 Hz");
    } else if (a == "--sound-burst") {
      long n = 0;
      if (!value(v) || !ParseInteger(v, n) || n < 1 || n > 50) return fail("--sound-burst needs a number from 1 to 50");
      o.soundBurst = static_cast<int>(n);
    } else if (a == "--sound-clock") {
      if (!value(v) || !ParseNumber(v, o.soundClock) || o.soundClock < 0.5 || o.soundClock > 2)
        return fail("--sound-clock needs a ratio from 0.5 to 2");
    } else if (a == "--ping") {
      o.ping = true;
    } else if (a == "--close") {
      o.close = true;
    } else if (a == "--fragment") {
      long n = 0;
      if (!value(v) || !ParseInteger(v, n) || n < 1 || n > 1000) return fail("--fragment needs a number from 1 to 1000");
      o.fragment = static_cast<int>(n);
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a.rfind("-", 0) == 0) {
      return fail("unknown option " + a + " (see --help)");
    } else if (o.host.empty()) {
      // HOST or HOST:PORT
      size_t colon = a.rfind(':');
      o.host = a.substr(0, colon);
      if (colon != std::string::npos && !ParsePort(a.substr(colon + 1), o.port))
        return fail("port out of range in " + a + " (1-65535)");
      if (o.host.empty()) return fail("no host in " + a);
    } else {
      return fail("unexpected argument " + a + " (one HOST[:PORT] only)");
    }
  }

  if (sawDiscover) {
    o.mode = Options::Mode::Discover;
    if (!o.host.empty()) return fail("--discover takes no HOST");
    return {o, ""};
  }
  if (o.host.empty()) return fail("no HOST given (see --help)");
  int pictureSources = (!o.jpegFiles.empty()) + (!o.jpegDir.empty()) + (o.patternWidth > 0) + (o.rawSize > 0);
  if (pictureSources > 1) return fail("choose one of --jpeg, --jpeg-dir, --pattern and --raw-size");
  if (o.pregenerate > 0 && o.patternWidth == 0) return fail("--pregenerate goes with --pattern");
  if (!o.wavFile.empty() && o.toneHz > 0) return fail("choose one of --wav and --tone");
  if (o.durationSeconds && o.frames) return fail("choose one of --duration and --frames");
  if (!o.HasPictures() && !o.HasSound() && !o.ping && !o.close)
    return fail("nothing to send: give pictures (--jpeg, --jpeg-dir, --pattern), sound (--wav, --tone), --ping or --close");
  return {o, ""};
}

}  // namespace orrin::cast
