#include <gtest/gtest.h>

#include <string>

#include "service_fixture.h"

namespace orrin::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using DiscoveryUdpTest = DiscoveryServiceTest;

const std::string SENT_LINE = "发送UDP发现响应到: ";

TEST_F(DiscoveryUdpTest, BothProbesGetTheSameResponseFromTheDiscoveryPort) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForUdpService());
  UdpProbeClient client(DISCOVERY_UDP_PORT);
  const std::string expected = ExpectedResponse();

  for (const std::string& probe : {"MIRALUX_DISCOVERY"s, "ANDROID_TV_CAST_DISCOVERY"s}) {
    client.Send(probe);
    auto reply = client.Receive(5s);
    ASSERT_TRUE(reply) << probe;
    EXPECT_EQ(reply->bytes, expected) << probe;
    EXPECT_EQ(reply->bytes.find('\0'), std::string::npos);
    EXPECT_EQ(reply->sourcePort, DISCOVERY_UDP_PORT);
  }
  // One line per source for its first answer (the start-up check's) and every 100th after.
  EXPECT_EQ(log.Count(SENT_LINE), 1);
}

TEST_F(DiscoveryUdpTest, NearMissesGetNoReplyAndNoLogLine) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForUdpService());
  UdpProbeClient client(DISCOVERY_UDP_PORT);

  for (const std::string& nearMiss :
       {"MIRALUX_DISCOVERY\n"s, "miralux_discovery"s, " MIRALUX_DISCOVERY"s, ""s}) {
    client.Send(nearMiss);
  }
  // The listener answers in arrival order, so a reply to any near miss would come before
  // the reply to this one.
  client.Send("MIRALUX_DISCOVERY\0junk\x01\xff"s);

  auto reply = client.Receive(5s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, ExpectedResponse());
  EXPECT_FALSE(client.Receive(0ms)) << "a near miss was answered";
  EXPECT_EQ(log.Count(SENT_LINE), 1);  // the start-up check's answer; the rest are thinned
  EXPECT_EQ(ErrorLines(), 0);
}

TEST_F(DiscoveryUdpTest, OversizedDatagramsDoNotStopTheListener) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForUdpService());
  UdpProbeClient client(DISCOVERY_UDP_PORT);

  client.Send(std::string(2000, 'A'));
  // Cut to one read, this one still starts with the probe and its NUL.
  client.Send("MIRALUX_DISCOVERY\0"s + std::string(1982, 'x'));
  client.Send("MIRALUX_DISCOVERY");

  for (int i = 0; i < 2; ++i) {
    auto reply = client.Receive(5s);
    ASSERT_TRUE(reply) << "reply " << i;
    EXPECT_EQ(reply->bytes, ExpectedResponse());
  }
  EXPECT_FALSE(client.Receive(0ms));
}

}  // namespace
}  // namespace orrin::test
