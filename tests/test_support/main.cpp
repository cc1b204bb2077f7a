#include <gtest/gtest.h>

#include "net/socket.h"
#include "support/log.h"

int main(int argc, char** argv) {
  int socketError = 0;
  if (!orrin::StartSockets(socketError)) return 1;
  // Tests look for the lines of each message they send; the sampling of the normal level
  // has tests of its own.
  orrin::SetLogLevel(orrin::LogLevel::Verbose);
  // The log's writer thread starts now, not inside a test that counts threads.
  orrin::FlushLog(0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
