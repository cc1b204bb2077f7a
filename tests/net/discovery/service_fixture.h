#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/discovery/discovery_protocol.h"
#include "net/discovery/discovery_service.h"
#include "probe_client.h"
#include "support/host_identity.h"
#include "test_support/log_capture.h"

namespace orrin::test {

// A service as the receiver builds it, on the real ports, with its log recorded. The
// capture is declared first so it outlives the service and sees its stop lines.
class DiscoveryServiceTest : public ::testing::Test {
 protected:
  static constexpr const char* DEVICE_NAME = "Test-PC (Windows)";
  static constexpr int WEBSOCKET_PORT = 9959;

  static std::string ExpectedResponse() {
    return BuildDiscoveryResponse(DEVICE_NAME, GetLocalIPAddress(), WEBSOCKET_PORT);
  }

  // Lines whose text is exactly `text`.
  int ExactLines(const std::string& text) const {
    int n = 0;
    for (const LogCapture::Line& line : log.Lines()) n += line.text == text ? 1 : 0;
    return n;
  }
  int ErrorLines() const {
    int n = 0;
    for (const LogCapture::Line& line : log.Lines()) n += line.isError ? 1 : 0;
    return n;
  }

  LogCapture log;
  DiscoveryService service{DEVICE_NAME, WEBSOCKET_PORT};
};

}  // namespace orrin::test
