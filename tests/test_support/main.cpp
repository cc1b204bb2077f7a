#include <gtest/gtest.h>

#include "net/socket.h"
#include "support/log.h"
#include "support/log_thinning.h"

namespace {

// Thinned lines start afresh with each test, as in a fresh process.
class FreshThinning : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { orrin::LogThinner::ResetAllForTesting(); }
};

}  // namespace

int main(int argc, char** argv) {
  int socketError = 0;
  if (!orrin::StartSockets(socketError)) return 1;
  // Tests look for the lines of each message they send; the sampling of the normal level
  // has tests of its own.
  orrin::SetLogLevel(orrin::LogLevel::Verbose);
  // The log's writer thread starts now, not inside a test that counts threads.
  orrin::FlushLog(0);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshThinning);
  return RUN_ALL_TESTS();
}
