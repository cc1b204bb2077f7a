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
  EXPECT_EQ(RunReceiver({"--bogus"}), 2);  // refused before anything starts
}

TEST(Receiver, RecordTakesAFileNameInEitherForm) {
  std::string error;
  EXPECT_EQ(ParseReceiverOptions({"--record", "a b.mkv", "--stats"}, error)->record, "a b.mkv");
  EXPECT_EQ(ParseReceiverOptions({"--record=cast.mkv"}, error)->record, "cast.mkv");
  EXPECT_EQ(ParseReceiverOptions({}, error)->record, "");
  EXPECT_FALSE(ParseReceiverOptions({"--record"}, error));
  EXPECT_EQ(error, "--record needs a file name");
  EXPECT_FALSE(ParseReceiverOptions({"--record="}, error));
}

}  // namespace
}  // namespace orrin
