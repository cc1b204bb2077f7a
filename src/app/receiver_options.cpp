#include "app/receiver_options.h"

#include <CLI/CLI.hpp>

#include <charconv>

#include "share/share_request.h"
#include "support/version.h"

namespace orrin {

namespace {

constexpr const char* FOOTER = R"(Keys:
  F11   full screen on or off (on only while a picture is shown)
  ESC   leave full screen
  I     overlay with the link's figures (sender, size, rates, delays, sound, recording)
  R     start or stop recording into the Videos folder (XDG_VIDEOS_DIR, else home)
  S     save the picture on screen, as received, into the Pictures folder (XDG_PICTURES_DIR)
  Tab   with --senders: the focus (frame, sound, I, S) to the next sender
  1-4   with --senders: the focus to that tile; a click on a tile does the same
  Z     with --senders: the focused sender alone in the window, and back
  Y, N  with --approve: let the waiting sender cast, or refuse it

Ports (open them in the firewall for phones on the network):
  9959/tcp  WebSocket: the sender's pictures and sound
  8888/udp  discovery probes (broadcast)
  8889/tcp  discovery probes
  PORT/tcp  the shared view, only with --share

Exit codes:
  0  closed normally, or stopped by SIGINT or SIGTERM
  1  start-up failed (for example port 9959 already in use)
  2  bad command line)";

// The one table of options: the parser and --help are both made from it. Adding an option
// is one line here and a field in ReceiverOptions.
void DescribeOptions(CLI::App& app, ReceiverOptions& o) {
  app.set_help_flag("-h,--help", "this text");
  app.add_flag("--version", o.version, "the version, then exit");
  app.add_flag("--stats", o.stats,
               "once a second a log line with pictures received, shown and dropped,\n"
               "decode and present delay (p50) and sound queued; a summary at exit");
  app.add_flag_callback("--no-decode", [&o] { o.decode = false; },
                        "count pictures without decoding them (measures the frame reader alone)");
  app.add_option_function<std::string>(
         "--max-fps",
         [&o](const std::string& text) {
           int fps = 0;
           const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fps);
           if (text.empty() || ec != std::errc() || end != text.data() + text.size() || fps < 1 ||
               fps > MAX_FPS_LIMIT)
             throw CLI::ValidationError("--max-fps needs a number from 1 to " + std::to_string(MAX_FPS_LIMIT));
           o.maxFps = fps;
         },
         "take in and show up to N pictures a second (default: 50 taken in,\n"
         "30 shown); 60 shows a 60 fps phone at full rate")
      ->type_name("N");
  app.add_flag("--hold", o.hold,
               "while a sender casts, refuse newcomers (close status 1013, \"try again\n"
               "later\") instead of letting the latest one take over");
  app.add_option_function<int>("--senders", [&o](int n) { o.window.senders = static_cast<size_t>(n); },
                               "show up to N senders at once (1-4, default 1), each in its tile;\n"
                               "a newcomer then replaces the one quiet the longest (or is refused\n"
                               "with --hold); only the focused sender's sound plays")
      ->type_name("N")
      ->check(CLI::Range(1, MAX_SENDERS).description(""));
  app.add_flag("--approve", o.approve,
               "a sender from an address not yet let in during this run waits: the\n"
               "window shows its address and a preview, Y lets it cast (its address\n"
               "from then on too), N or no answer in 30 s refuses it (close status\n"
               "1008); needs a window");
  app.add_option_function<std::string>(
         "--allow",
         [&o](const std::string& list) {
           std::string why;
           std::optional<std::vector<Ipv4Network>> networks = ParseNetworkList(list, why);
           if (!networks) throw CLI::ValidationError("--allow", why);
           o.allow = std::move(*networks);
         },
         "answer probes and accept senders only from these networks,\n"
         "e.g. --allow 192.168.1.0/24,10.0.0.5; others are closed at once")
      ->type_name("CIDR[,CIDR...]");
  app.add_option("--record", o.record,
                 "record every sender into FILE (Matroska: the JPEG pictures and the sound\n"
                 "as received); later senders of the run go to FILE-2, FILE-3, ...")
      ->type_name("FILE")
      ->check([](const std::string& file) { return file.empty() ? std::string("needs a file name") : std::string(); });
  app.add_option_function<std::string>(
         "--share",
         [&o](const std::string& text) {
           std::string why;
           if (!ParseShareEndpoint(text, o.shareAddress, o.sharePort, why)) throw CLI::ValidationError("--share", why);
         },
         "show the cast to browsers on the network: http://ADDR:PORT/ is a live\n"
         "view; /stream.mjpg (MJPEG), /snapshot.jpg, /sound.pcm, /status (JSON)\n"
         "and /metrics (Prometheus); ADDR defaults to every IPv4 interface")
      ->type_name("[ADDR:]PORT");
  app.add_option_function<std::string>(
         "--share-token",
         [&o](const std::string& token) {
           const std::string why = ShareTokenProblem(token);
           if (!why.empty()) throw CLI::ValidationError("--share-token", why);
           o.shareToken = token;
         },
         "viewers of --share must bring TOKEN: open http://ADDR:PORT/?token=TOKEN\n"
         "(letters, digits and -._~, at most 128)")
      ->type_name("TOKEN");
  app.add_flag("--fullscreen", o.window.fullscreen,
               "start full screen and stay full screen for the whole run, text screens\n"
               "included (a kiosk or projector); F11 and ESC still leave it");
  app.add_flag("--keep-aspect", o.window.keepAspect,
               "in full screen keep the picture's shape with black bars, as the window does");
  app.add_flag("--always-on-top", o.window.alwaysOnTop, "keep the window above other windows");
  app.add_flag_callback("--no-screensaver", [&o] { o.window.keepScreenOn = true; },
               "keep the screen on for the whole run; by default the screen saver may\n"
               "start while nothing is cast and is held off only while pictures show");
  app.add_option_function<int>("--display", [&o](int n) { o.window.display = n; },
                               "the monitor (0 = the first) for the first window and full screen")
      ->type_name("N")
      ->check(CLI::Range(0, 63).description(""));  // the range is said when it is missed
  app.add_flag("--quiet", o.quiet,
                                    "log only errors, start-up, connects, disconnects and summaries\n"
                                    "(for launchers and services)");
  // Their exclusion is checked after parsing: CLI11's own would print "Excludes:" into --help.
  app.add_flag("--verbose", o.verbose, "log every picture and sound frame, not one in 30 or 50");
}

constexpr const char* DESCRIPTION =
    "orrin-receiver: shows the screen a phone casts over the local network and plays its sound.";

void Describe(CLI::App& app, ReceiverOptions& o) {
  app.footer(FOOTER);
  // Unknown words are left over rather than thrown, so the refusal names the first of them.
  app.allow_extras();
  DescribeOptions(app, o);
}

}  // namespace

std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args, std::string& error) {
  ReceiverOptions options;
  CLI::App app(DESCRIPTION, "orrin-receiver");
  Describe(app, options);
  // CLI11 takes the words last-first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    options = ReceiverOptions{};
    options.help = true;
    return options;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return std::nullopt;
  }
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    error = (extras.front().rfind('-', 0) == 0 ? "unknown option " : "unexpected argument ") + extras.front();
    return std::nullopt;
  }
  if (!options.shareToken.empty() && options.sharePort == 0) {
    error = "--share-token needs --share";
    return std::nullopt;
  }
  if (options.quiet && options.verbose) {
    error = "--quiet and --verbose exclude each other";
    return std::nullopt;
  }
  return options;
}

std::string ReceiverUsageText() {
  ReceiverOptions unused;
  CLI::App app(DESCRIPTION, "orrin-receiver");
  Describe(app, unused);
  return app.help();
}

}  // namespace orrin
