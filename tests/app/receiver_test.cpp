#include "app/receiver.h"

#include <gtest/gtest.h>

namespace orrin {
namespace {

TEST(Receiver, WindowlessVideoDriversCountAsNoDisplayUnlessAskedFor) {
  EXPECT_TRUE(IsRealDisplayDriver("x11", nullptr));
  EXPECT_TRUE(IsRealDisplayDriver("wayland", "x11"));
  // SDL falls back to these by itself when no display answers.
  EXPECT_FALSE(IsRealDisplayDriver("offscreen", nullptr));
  EXPECT_FALSE(IsRealDisplayDriver("dummy", "x11"));
  EXPECT_TRUE(IsRealDisplayDriver("offscreen", "offscreen"));
  EXPECT_FALSE(IsRealDisplayDriver(nullptr, nullptr));
}

TEST(Receiver, CommandLineTakesStatsAndNoDecodeAndRefusesTheRest) {
  std::string error;
  auto plain = ParseReceiverOptions({}, error);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->stats);
  EXPECT_TRUE(plain->decode);
  auto both = ParseReceiverOptions({"--no-decode", "--stats"}, error);
  ASSERT_TRUE(both);
  EXPECT_TRUE(both->stats);
  EXPECT_FALSE(both->decode);
  EXPECT_TRUE(ParseReceiverOptions({"--help"}, error)->help);
  EXPECT_TRUE(ParseReceiverOptions({"--version"}, error)->version);
  // A launcher's --quiet must not stop the receiver from starting.
  EXPECT_TRUE(ParseReceiverOptions({"--quiet"}, error));
  EXPECT_FALSE(ParseReceiverOptions({"--verbose", "--quiet"}, error));
  EXPECT_EQ(error, "--quiet and --verbose exclude each other");
  EXPECT_FALSE(ParseReceiverOptions({"--stats", "--fast"}, error));
  EXPECT_EQ(error, "unknown option --fast");
  EXPECT_FALSE(ParseReceiverOptions({"stats"}, error));
  EXPECT_EQ(error, "unexpected argument stats");
  EXPECT_EQ(plain->maxFps, 0);
  EXPECT_EQ(ParseReceiverOptions({"--max-fps", "60", "--stats"}, error)->maxFps, 60);
  for (const char* bad : {"0", "241", "6o", ""}) {
    EXPECT_FALSE(ParseReceiverOptions({"--max-fps", bad}, error)) << bad;
    EXPECT_EQ(error, "--max-fps needs a number from 1 to 240");
  }
  EXPECT_FALSE(ParseReceiverOptions({"--max-fps"}, error));
  auto desktop = ParseReceiverOptions(
      {"--fullscreen", "--keep-aspect", "--always-on-top", "--display", "1", "--no-screensaver"}, error);
  ASSERT_TRUE(desktop);
  EXPECT_TRUE(desktop->window.fullscreen && desktop->window.keepAspect && desktop->window.alwaysOnTop &&
              desktop->window.keepScreenOn);
  EXPECT_EQ(desktop->window.display, 1);
  EXPECT_FALSE(plain->window.fullscreen || plain->window.keepAspect || plain->window.alwaysOnTop ||
               plain->window.keepScreenOn);
  EXPECT_FALSE(plain->window.display);
  EXPECT_FALSE(ParseReceiverOptions({"--display", "-1"}, error));
  EXPECT_NE(error.find("not in range 0 to 63"), std::string::npos) << error;  // said where it is missed
  EXPECT_FALSE(ParseReceiverOptions({"--display"}, error));
  EXPECT_EQ(RunReceiver({"--bogus"}), 2);  // refused before anything starts
  EXPECT_EQ(RunReceiver({"--version"}), 0);
}

TEST(Receiver, HelpNamesEveryOptionTheKeysThePortsAndTheExitCodes) {
  const std::string help = ReceiverUsageText();
  for (const char* word : {"--help", "--version", "--stats", "--no-decode", "--quiet", "--verbose", "--fullscreen", "--keep-aspect", "--always-on-top", "--display N", "--no-screensaver", "F11", "ESC",
                           "9959/tcp", "8888/udp", "8889/tcp", "Exit codes", "SIGTERM"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
  // Only our own words: no parser annotations beside the options.
  for (const char* word : {"Excludes", "INT in", "TEXT"}) EXPECT_EQ(help.find(word), std::string::npos) << word;
}

TEST(Receiver, HoldAndAllowAreOffUnlessGiven) {
  std::string error;
  auto plain = ParseReceiverOptions({}, error);
  EXPECT_FALSE(plain->hold);
  EXPECT_TRUE(plain->allow.empty());
  auto both = ParseReceiverOptions({"--hold", "--allow", "192.168.1.0/24,10.0.0.5"}, error);
  ASSERT_TRUE(both) << error;
  EXPECT_TRUE(both->hold);
  ASSERT_EQ(both->allow.size(), 2u);
  EXPECT_EQ(both->allow[1].mask, 0xFFFFFFFFu);
  EXPECT_EQ(ParseReceiverOptions({"--allow=10.0.0.0/8"}, error)->allow.size(), 1u);
  EXPECT_FALSE(ParseReceiverOptions({"--allow"}, error));
  EXPECT_FALSE(ParseReceiverOptions({"--allow", "lan"}, error));
  EXPECT_NE(error.find("--allow"), std::string::npos);
  EXPECT_EQ(RunReceiver({"--allow", "10.0.0.0/33"}), 2);
}

TEST(Receiver, RecordTakesAFileNameInEitherForm) {
  std::string error;
  EXPECT_EQ(ParseReceiverOptions({"--record", "a b.mkv", "--stats"}, error)->record, "a b.mkv");
  EXPECT_EQ(ParseReceiverOptions({"--record=cast.mkv"}, error)->record, "cast.mkv");
  EXPECT_EQ(ParseReceiverOptions({}, error)->record, "");
  EXPECT_FALSE(ParseReceiverOptions({"--record"}, error));
  EXPECT_FALSE(ParseReceiverOptions({"--record="}, error));
  EXPECT_NE(ReceiverUsageText().find("--record FILE"), std::string::npos);
  EXPECT_NE(ReceiverUsageText().find("S     save the picture on screen"), std::string::npos);
}

}  // namespace
}  // namespace orrin
