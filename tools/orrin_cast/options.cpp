#include "options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <climits>
#include <cmath>
#include <memory>

namespace orrin::cast {
namespace {

bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(out);
}

// Decimal only: CLI11's own conversion would read 010 as octal.
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

bool ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  long w = 0, h = 0;
  if (x == std::string::npos || !ParseInteger(text.substr(0, x), w) || !ParseInteger(text.substr(x + 1), h) ||
      w < 16 || h < 16 || w > 8192 || h > 8192)
    return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

std::optional<uint32_t> ParseColour(const std::string& text) {
  uint32_t value = 0;
  if (text.size() != 6) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

CLI::Validator Check(std::function<bool(const std::string&)> ok, std::string need) {
  return CLI::Validator(
      [ok = std::move(ok), need = std::move(need)](std::string& text) { return ok(text) ? std::string() : need; }, "");
}

// A whole number from lo to hi into `target`.
template <typename T>
CLI::Option* AddWhole(CLI::App& app, const std::string& name, T& target, long lo, long hi, const std::string& help) {
  const std::string need = hi == LONG_MAX ? "needs a whole number from " + std::to_string(lo)
                                          : "needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
  return app
      .add_option_function<std::string>(
          name, [&target](const std::string& text) {
            long n = 0;
            ParseInteger(text, n);
            target = static_cast<T>(n);
          },
          help)
      ->check(Check([lo, hi](const std::string& text) {
        long n = 0;
        return ParseInteger(text, n) && n >= lo && n <= hi;
      }, need));
}

// A finite number above lo (or from lo, when `fromLow`) and below hi (or up to hi, `toHigh`).
CLI::Option* AddReal(CLI::App& app, const std::string& name, double& target, double lo, bool fromLow, double hi,
                     bool toHigh, const std::string& need, const std::string& help) {
  return app
      .add_option_function<std::string>(
          name, [&target](const std::string& text) { ParseNumber(text, target); }, help)
      ->check(Check([=](const std::string& text) {
        double v = 0;
        return ParseNumber(text, v) && (fromLow ? v >= lo : v > lo) && (toHigh ? v <= hi : v < hi);
      }, need));
}

// The two ways to call the program, instead of CLI11's one generic line.
class CastFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "\nusage:\n"
           "  orrin-cast --discover [--timeout S] [--probe-to ADDR] [--tcp]\n"
           "  orrin-cast HOST[:PORT] [pictures] [sound] [options]\n";
  }
};

constexpr const char* FOUND = "finding receivers";
constexpr const char* PICTURES = "pictures (one of)";
constexpr const char* SOUND = "sound (16 kHz mono 16-bit PCM, sent in 20 ms frames at real-time pace)";
constexpr const char* LINK = "link";
constexpr double INF = HUGE_VAL;

// Fields the table fills that the finished options hold differently.
struct Raw {
  std::string target;  // HOST[:PORT]
  std::string pattern;
  std::string colour;
  double duration = 0;
  long frames = 0;
  bool discover = false;
  bool version = false;
};

// The one table of options: the parser and --help are both made from it.
void Describe(CLI::App& app, Options& o, Raw& raw) {
  auto formatter = std::make_shared<CastFormatter>();
  formatter->column_width(22);
  app.formatter(formatter);
  app.allow_extras();
  app.set_help_flag("-h,--help", "this text");
  app.add_flag("--version", raw.version, "the version, then exit");
  app.add_option("target", raw.target, "HOST[:PORT]")->group("");

  app.add_flag("--discover", raw.discover, "send both discovery probes and list each answer (NAME, IP, PORT)")
      ->group(FOUND);
  AddReal(app, "--timeout", o.timeoutSeconds, 0, false, INF, false, "needs a number of seconds above 0",
          "how long to wait for answers (default 2)")->type_name("S")->group(FOUND);
  app.add_option("--probe-to", o.probeTo, "probe one address instead of broadcasting to 255.255.255.255")
      ->type_name("ADDR")->group(FOUND)
      ->check(Check([](const std::string& text) { return !text.empty(); }, "needs an address"));
  app.add_flag("--tcp", o.tcp, "probe TCP port 8889 of --probe-to instead of UDP port 8888")->group(FOUND);

  app.add_option("--jpeg", o.jpegFiles, "these JPEG files, in a loop")->type_name("FILE")->group(PICTURES);
  app.add_option("--jpeg-dir", o.jpegDir, "every *.jpg/*.jpeg file of DIR, in name order, in a loop")
      ->type_name("DIR")->group(PICTURES);
  app.add_option("--pattern", raw.pattern, "a generated moving test picture with a frame counter")
      ->type_name("WxH")->group(PICTURES)
      ->check(Check([](const std::string& text) { int w, h; return ParseSize(text, w, h); },
                    "needs a size WxH with sides from 16 to 8192, such as 1280x720"));
  app.add_option("--colour", raw.colour, "--pattern pictures of this one colour (hex RRGGBB), for tests")
      ->type_name("RRGGBB")->group(PICTURES)
      ->check(Check([](const std::string& text) { return ParseColour(text).has_value(); },
                    "needs six hex digits RRGGBB, such as ff0000"));
  AddWhole(app, "--quality", o.quality, 1, 100, "JPEG quality of --pattern, 1-100 (default 80)")
      ->type_name("Q")->group(PICTURES);
  AddWhole(app, "--pregenerate", o.pregenerate, 1, 1000,
           "encode N --pattern pictures before sending and send them in turn,\n"
           "so encoding does not hold the sender back (benchmarks)")->type_name("N")->group(PICTURES);
  AddWhole(app, "--raw-size", o.rawSize, 16, 64L * 1024 * 1024,
           "pictures of exactly BYTES bytes: a JPEG start marker and noise, for\n"
           "measuring the link with a receiver that does not decode (benchmarks)")->type_name("BYTES")->group(PICTURES);
  AddReal(app, "--fps", o.fps, 0, true, 1000, true, "needs a number from 0 to 1000",
          "pictures per second (default 30; 0 = as fast as the link takes them)")->type_name("N")->group(PICTURES);
  AddReal(app, "--duration", raw.duration, 0, false, INF, false, "needs a number of seconds above 0",
          "stop after S seconds")->type_name("S")->group(PICTURES);
  AddWhole(app, "--frames", raw.frames, 1, LONG_MAX, "stop after N pictures")->type_name("N")->group(PICTURES);

  app.add_option("--wav", o.wavFile, "a 16 kHz mono 16-bit PCM WAV file")->type_name("FILE")->group(SOUND);
  AddReal(app, "--tone", o.toneHz, 0, false, 8000, false, "needs a frequency above 0 and below 8000 Hz",
          "a sine tone")->type_name("HZ")->group(SOUND);
  AddWhole(app, "--sound-burst", o.soundBurst, 1, 50,
           "send N frames at once every N x 20 ms, as a jittery link delivers them")->type_name("N")->group(SOUND);
  AddReal(app, "--sound-clock", o.soundClock, 0.5, true, 2, true, "needs a ratio from 0.5 to 2",
          "the sender's clock runs R times real time (1.005: 0.5 % fast)")->type_name("R")->group(SOUND);

  app.add_flag("--ping", o.ping, "send a ping first and wait for its pong")->group(LINK);
  app.add_flag("--close", o.close, "end with a close frame (otherwise the TCP connection is just closed)")
      ->group(LINK);
  AddWhole(app, "--fragment", o.fragment, 1, 1000, "split every message into N WebSocket frames")
      ->type_name("N")->group(LINK);
  app.add_flag("--quiet", o.quiet, "no progress line")->group(LINK);

  app.footer("exit codes: 0 done, 2 bad arguments or input, 3 could not connect,\n"
             "            4 handshake refused, 5 connection lost");
}

constexpr const char* DESCRIPTION = "orrin-cast: send pictures and sound to an Orrin receiver, or find receivers.";

}  // namespace

std::string UsageText() {
  Options o;
  Raw raw;
  CLI::App app(DESCRIPTION, "orrin-cast");
  Describe(app, o, raw);
  return app.help();
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  Options o;
  Raw raw;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
  CLI::App app(DESCRIPTION, "orrin-cast");
  Describe(app, o, raw);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes the words last-first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    Options help;
    help.mode = Options::Mode::Help;
    return {help, ""};
  } catch (const CLI::ParseError& e) {
    return fail(e.what());
  }
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    if (extras.front().rfind('-', 0) == 0) return fail("unknown option " + extras.front() + " (see --help)");
    return fail("unexpected argument " + extras.front() + " (one HOST[:PORT] only)");
  }
  if (raw.version) {
    o.mode = Options::Mode::Version;
    return {o, ""};
  }
  if (!raw.pattern.empty()) ParseSize(raw.pattern, o.patternWidth, o.patternHeight);
  if (!raw.colour.empty()) o.colour = ParseColour(raw.colour);
  if (app.count("--duration")) o.durationSeconds = raw.duration;
  if (app.count("--frames")) o.frames = raw.frames;
  if (!raw.target.empty()) {
    // HOST or HOST:PORT
    const size_t colon = raw.target.rfind(':');
    o.host = raw.target.substr(0, colon);
    if (colon != std::string::npos && !ParsePort(raw.target.substr(colon + 1), o.port))
      return fail("port out of range in " + raw.target + " (1-65535)");
    if (o.host.empty()) return fail("no host in " + raw.target);
  }

  if (raw.discover) {
    o.mode = Options::Mode::Discover;
    if (!o.host.empty()) return fail("--discover takes no HOST");
    return {o, ""};
  }
  if (o.host.empty()) return fail("no HOST given (see --help)");
  int pictureSources = (!o.jpegFiles.empty()) + (!o.jpegDir.empty()) + (o.patternWidth > 0) + (o.rawSize > 0);
  if (pictureSources > 1) return fail("choose one of --jpeg, --jpeg-dir, --pattern and --raw-size");
  if (o.pregenerate > 0 && o.patternWidth == 0) return fail("--pregenerate goes with --pattern");
  if (o.colour && o.patternWidth == 0) return fail("--colour goes with --pattern");
  if (!o.wavFile.empty() && o.toneHz > 0) return fail("choose one of --wav and --tone");
  if (o.durationSeconds && o.frames) return fail("choose one of --duration and --frames");
  if (!o.HasPictures() && !o.HasSound() && !o.ping && !o.close)
    return fail("nothing to send: give pictures (--jpeg, --jpeg-dir, --pattern), sound (--wav, --tone), --ping or --close");
  return {o, ""};
}

}  // namespace orrin::cast
