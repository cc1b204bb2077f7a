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
  EXPECT_FALSE(ParseReceiverOptions({"--stats", "--fast"}, error));
  EXPECT_EQ(error, "unknown option --fast");
  EXPECT_EQ(plain->maxFps, 0);
  EXPECT_EQ(ParseReceiverOptions({"--max-fps", "60", "--stats"}, error)->maxFps, 60);
  for (const char* bad : {"0", "241", "6o", ""}) {
    EXPECT_FALSE(ParseReceiverOptions({"--max-fps", bad}, error)) << bad;
    EXPECT_EQ(error, "--max-fps needs a number from 1 to 240");
  }
  EXPECT_FALSE(ParseReceiverOptions({"--max-fps"}, error));
  EXPECT_EQ(RunReceiver({"--bogus"}), 2);  // refused before anything starts
}

}  // namespace
}  // namespace orrin
