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

}  // namespace
}  // namespace orrin
