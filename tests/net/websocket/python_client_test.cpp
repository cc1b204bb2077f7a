// A real third-party client (python3-websockets from Debian) against the running server.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>

#include "net/websocket/websocket_server.h"
#include "test_support/log_capture.h"
#include "test_support/sender_callbacks.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

struct Outcome {
  int status = -1;
  std::string output;
};

Outcome RunClient(int port, const std::string& action) {
  // Debian's interpreter: the python3 first on PATH may lack the websockets package.
  std::string command = "/usr/bin/python3 " ORRIN_WS_CLIENT_SCRIPT " " + std::to_string(port) + " " + action + " 2>&1";
  Outcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  std::array<char, 512> chunk;
  while (size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) outcome.output.append(chunk.data(), n);
  outcome.status = ::pclose(pipe);
  return outcome;
}

struct Server {
  test::LogCapture log;
  test::FrameLog video;
  test::ConnectionLog connections;
  WebSocketServer server{0};
  Server() {
    server.SetSenderOpener(test::OpenerFor({.connection = [this](bool c, const std::string& i) { connections(c, i); },
                                            .video = [this](const ByteBuffer& b) { video(b); }}));
    EXPECT_TRUE(server.Start());
  }
};

TEST(PythonClient, CompletesTheHandshakeAndGetsPongs) {
  Server s;
  Outcome handshake = RunClient(s.server.ListeningPort(), "handshake");
  EXPECT_EQ(handshake.status, 0) << handshake.output;
  EXPECT_NE(handshake.output.find("done"), std::string::npos) << handshake.output;
  Outcome ping = RunClient(s.server.ListeningPort(), "ping");
  EXPECT_EQ(ping.status, 0) << ping.output;
  EXPECT_NE(ping.output.find("pong"), std::string::npos) << ping.output;
  EXPECT_TRUE(s.log.WaitFor("收到关闭帧", 2));
  EXPECT_TRUE(s.connections.WaitForCount(4));
}

TEST(PythonClient, ClosingProperlyEndsInANormalClosure) {
  Server s;
  Outcome run = RunClient(s.server.ListeningPort(), "close");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("close code 1000"), std::string::npos) << run.output;
  EXPECT_TRUE(s.connections.WaitForCount(2));
}

TEST(PythonClient, VideoMessageReachesTheCallbackWithoutItsHeader) {
  Server s;
  Outcome run = RunClient(s.server.ListeningPort(), "video");
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(s.video.WaitForCount(1));
  EXPECT_EQ(s.video.Frames()[0], test::Pattern(995));
  EXPECT_TRUE(s.log.Contains("Processing frame: type=0, timestamp=256, data_size=995"));
}

TEST(PythonClient, FragmentedMessageIsReassembled) {
  Server s;
  Outcome run = RunClient(s.server.ListeningPort(), "fragments");
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(s.video.WaitForCount(1));
  EXPECT_EQ(s.video.Frames().size(), 1u);
  EXPECT_EQ(s.video.Frames()[0], test::Pattern(3000));
  EXPECT_TRUE(s.log.Contains("timestamp=4294967295, data_size=3000"));
}

}  // namespace
}  // namespace orrin
