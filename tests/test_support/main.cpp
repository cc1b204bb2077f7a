#include <gtest/gtest.h>

#include "net/socket.h"

int main(int argc, char** argv) {
  orrin::IgnoreSigpipe();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
