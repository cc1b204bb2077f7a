#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net/websocket/ws_test_support.h"
#include "share/share_server.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using test::RawClient;

std::string Text(const ByteBuffer& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A request as a browser or curl sends it; the whole answer (the server closes after it).
std::string Fetch(int port, const std::string& target, const std::string& extraHeaders = {}) {
  RawClient client(port);
  if (!client.Connected()) return {};
  client.Send("GET " + target + " HTTP/1.1\r\nHost: receiver\r\n" + extraHeaders + "\r\n");
  return Text(client.Read(1 << 20, 5s));
}

class ShareServerTest : public ::testing::Test {
 protected:
  void Start(ShareOptions options = {}) {
    options.address = options.address.empty() ? "127.0.0.1" : options.address;
    server = std::make_unique<ShareServer>(options, metrics, [] {
      ReceiverFacts facts;
      facts.soundQueuedSeconds = 0.25;
      return facts;
    });
    ASSERT_TRUE(server->Start());
    port = server->ListeningPort();
    ASSERT_GT(port, 0);
  }

  ReceiverMetrics metrics;
  std::unique_ptr<ShareServer> server;
  int port = 0;
};

TEST_F(ShareServerTest, AnswersCarryTheirTypesAndSafeHeadersAndNothingElseIsServed) {
  Start();
  metrics.picturesReceived = 7;
  const std::string status = Fetch(port, "/status");
  EXPECT_EQ(status.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << status;
  for (const char* header : {"Content-Type: application/json\r\n", "X-Content-Type-Options: nosniff\r\n",
                             "Cache-Control: no-cache, no-store, must-revalidate\r\n",
                             "Content-Security-Policy: default-src 'self';"}) {
    EXPECT_NE(status.find(header), std::string::npos) << header << status;
  }
  EXPECT_NE(status.find("\"senders\":[]"), std::string::npos) << status;
  const std::string metricsText = Fetch(port, "/metrics");
  EXPECT_NE(metricsText.find("orrin_pictures_received_total 7\n"), std::string::npos) << metricsText;
  EXPECT_NE(metricsText.find("orrin_sound_queued_seconds 0.25\n"), std::string::npos) << metricsText;
  EXPECT_NE(Fetch(port, "/").find("<script src=\"view.js\""), std::string::npos);

  for (const char* target : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/status/../../x", "/favicon.ico"}) {
    const std::string answer = Fetch(port, target);
    EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u) << target << "\n" << answer;
  }
  EXPECT_EQ(Fetch(port, "/snapshot.jpg").rfind("HTTP/1.1 404", 0), 0u);  // nothing cast yet
}

TEST_F(ShareServerTest, StreamsCarryThePicturesAsReceivedAndTheNinthViewerIsTurnedAway) {
  Start();
  server->hub().SenderChanged(true, "127.0.0.1:4000");
  auto jpeg = std::make_shared<const ByteBuffer>(test::Pattern(50'000));
  std::vector<std::unique_ptr<RawClient>> viewers;
  for (size_t i = 0; i < ShareHub::MAX_VIEWERS; ++i) {
    viewers.push_back(std::make_unique<RawClient>(port));
    viewers.back()->Send("GET /stream.mjpg HTTP/1.1\r\n\r\n");
    EXPECT_NE(viewers.back()->ReadResponseHead().find("multipart/x-mixed-replace; boundary=orrin-picture"),
              std::string::npos);
  }
  const std::string ninth = Fetch(port, "/stream.mjpg");
  EXPECT_EQ(ninth.rfind("HTTP/1.1 503", 0), 0u) << ninth;

  // Viewer 0 never reads. The cast's side never waits for it, and viewer 1 keeps up.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 300; ++i) server->hub().Picture(jpeg, i);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  const std::string head = "--orrin-picture\r\nContent-Type: image/jpeg\r\nContent-Length: 50000\r\n\r\n";
  const std::string part = Text(viewers[1]->Read(head.size() + jpeg->size() + 2, 5s));
  ASSERT_EQ(part.size(), head.size() + jpeg->size() + 2);
  EXPECT_EQ(part.substr(0, head.size()), head);
  EXPECT_EQ(part.substr(head.size(), jpeg->size()), Text(*jpeg));

  const std::string snapshot = Fetch(port, "/snapshot.jpg");
  ASSERT_GE(snapshot.size(), jpeg->size());
  EXPECT_EQ(snapshot.substr(snapshot.size() - jpeg->size()), Text(*jpeg));
  EXPECT_NE(snapshot.find("Content-Type: image/jpeg\r\n"), std::string::npos);
}

TEST_F(ShareServerTest, WithATokenOnlyItsBearersAreAnswered) {
  ShareOptions options;
  options.token = "let-me-in";
  Start(options);
  const std::string refused = Fetch(port, "/status");
  EXPECT_EQ(refused.rfind("HTTP/1.1 401", 0), 0u) << refused;
  EXPECT_EQ(Fetch(port, "/status?token=let-me-out").rfind("HTTP/1.1 401", 0), 0u);
  const std::string page = Fetch(port, "/?token=let-me-in");
  EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page;
  EXPECT_NE(page.find("Set-Cookie: orrin_share_token=let-me-in; Path=/; HttpOnly; SameSite=Strict\r\n"),
            std::string::npos)
      << page;
  const std::string withCookie = Fetch(port, "/status", "Cookie: orrin_share_token=let-me-in\r\n");
  EXPECT_EQ(withCookie.rfind("HTTP/1.1 200", 0), 0u) << withCookie;
}

TEST_F(ShareServerTest, OutsidersOfTheAllowedNetworksAreClosedUnanswered) {
  ShareOptions options;
  options.allow = {Ipv4Network{0x0A000000, 0xFF000000}};  // 10.0.0.0/8; the test comes from 127.0.0.1
  Start(options);
  RawClient outsider(port);
  outsider.Send("GET /status HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(outsider.WaitClosed(5s));
  EXPECT_EQ(Fetch(port, "/status"), "");
}

TEST_F(ShareServerTest, StopEndsStreamsIdlersAndTricklersAtOnce) {
  Start();
  server->hub().SenderChanged(true, "127.0.0.1:4000");
  RawClient stalled(port), reading(port), idle(port), trickle(port);
  stalled.Send("GET /stream.mjpg HTTP/1.1\r\n\r\n");
  reading.Send("GET /sound.pcm HTTP/1.1\r\n\r\n");
  EXPECT_NE(reading.ReadResponseHead().find("200 OK"), std::string::npos);
  trickle.Send("GET /sta");
  auto jpeg = std::make_shared<const ByteBuffer>(test::Pattern(200'000));
  for (int i = 0; i < 50; ++i) server->hub().Picture(jpeg, i);
  const auto start = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(reading.WaitClosed(2s));
}

}  // namespace
}  // namespace orrin
