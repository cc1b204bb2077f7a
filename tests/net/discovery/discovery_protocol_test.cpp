#include "net/discovery/discovery_protocol.h"

#include "net/socket_platform.h"

#include <gtest/gtest.h>

#include <string>

#include "net/discovery/probe_rate_limiter.h"

namespace orrin {
namespace {

using namespace std::string_literals;

TEST(DiscoveryRequest, RecognisesExactlyTheTwoProbeTexts) {
  EXPECT_TRUE(IsDiscoveryRequest("MIRALUX_DISCOVERY"));
  EXPECT_TRUE(IsDiscoveryRequest("ANDROID_TV_CAST_DISCOVERY"));

  for (const std::string& nearMiss :
       {"MIRALUX_DISCOVERY\n"s, "MIRALUX_DISCOVERY\r\n"s, "MIRALUX_DISCOVERY "s, " MIRALUX_DISCOVERY"s,
        "miralux_discovery"s, "MIRALUX_DISCOVER"s, "MIRALUX_DISCOVERYX"s, "android_tv_cast_discovery"s,
        "MIRALUX_RESPONSE:"s, ""s, "\0MIRALUX_DISCOVERY"s}) {
    EXPECT_FALSE(IsDiscoveryRequest(nearMiss)) << '"' << nearMiss << '"';
  }
}

TEST(DiscoveryRequest, TextEndsAtTheFirstNul) {
  EXPECT_TRUE(IsDiscoveryRequest("MIRALUX_DISCOVERY\0"s));
  EXPECT_TRUE(IsDiscoveryRequest("MIRALUX_DISCOVERY\0junk\xff\x01"s));
  EXPECT_TRUE(IsDiscoveryRequest("ANDROID_TV_CAST_DISCOVERY\0\0\0"s));
  EXPECT_FALSE(IsDiscoveryRequest("MIRALUX_DISC\0OVERY"s));
  // What a 2000-byte datagram leaves after the kernel cut it to one read.
  std::string padded = "MIRALUX_DISCOVERY\0"s + std::string(2000, 'x');
  EXPECT_TRUE(IsDiscoveryRequest(std::string_view(padded).substr(0, DISCOVERY_MAX_READ)));
}

TEST(DiscoveryResponse, HasTheFieldsInOrderWithoutTerminator) {
  EXPECT_EQ(BuildDiscoveryResponse("OFFICE-PC (Windows)", "192.168.1.20", 9959),
            "MIRALUX_RESPONSE:NAME=OFFICE-PC (Windows);IP=192.168.1.20;PORT=9959;TYPE=Windows;VERSION=1.0");
}

TEST(DiscoveryResponse, NameAndPortGoOutUnchanged) {
  // Separators inside the name are not escaped, non-ASCII bytes pass, the port has no
  // grouping or padding.
  EXPECT_EQ(BuildDiscoveryResponse("a;b=c 客厅", "10.0.0.5", 80),
            "MIRALUX_RESPONSE:NAME=a;b=c 客厅;IP=10.0.0.5;PORT=80;TYPE=Windows;VERSION=1.0");
  EXPECT_EQ(BuildDiscoveryResponse("", "127.0.0.1", 65535),
            "MIRALUX_RESPONSE:NAME=;IP=127.0.0.1;PORT=65535;TYPE=Windows;VERSION=1.0");
}

sockaddr_in Source(const char* address, uint16_t port) {
  sockaddr_in source{};
  source.sin_family = AF_INET;
  inet_pton(AF_INET, address, &source.sin_addr);
  source.sin_port = htons(port);
  return source;
}

TEST(DiscoverySource, OnlyUnicastHostsOnUnprivilegedPortsAreAnswered) {
  in_addr subnetBroadcast{};
  inet_pton(AF_INET, "192.168.1.255", &subnetBroadcast);
  const std::vector<in_addr_t> broadcasts = {subnetBroadcast.s_addr};
  EXPECT_TRUE(IsAnswerableSource(Source("192.168.1.20", 50000), broadcasts));
  EXPECT_TRUE(IsAnswerableSource(Source("192.168.1.20", 1024), broadcasts));
  EXPECT_TRUE(IsAnswerableSource(Source("127.0.0.1", 40000), broadcasts));
  for (uint16_t port : {0, 7, 19, 53, 123, 1023}) {
    EXPECT_FALSE(IsAnswerableSource(Source("192.168.1.20", port), broadcasts)) << port;
  }
  for (const char* forged : {"192.168.1.255", "255.255.255.255", "224.0.0.1", "239.255.255.250", "240.0.0.1",
                             "0.0.0.0", "0.1.2.3"}) {
    EXPECT_FALSE(IsAnswerableSource(Source(forged, 50000), broadcasts)) << forged;
  }
  // Another network's broadcast address is an ordinary host address as far as we know.
  EXPECT_TRUE(IsAnswerableSource(Source("10.0.0.255", 50000), broadcasts));
}

TEST(ProbeRate, ABurstThenAFewASecondPerSource) {
  ProbeRateLimiter limiter(5, 5, 4);
  uint32_t now = 0xFFFFF000u;  // across the tick wrap
  int answered = 0;
  for (int i = 0; i < 100; ++i) answered += limiter.Allow(1, now) ? 1 : 0;
  EXPECT_EQ(answered, 5);
  EXPECT_TRUE(limiter.Allow(2, now));  // another source has its own budget
  now += 199;
  EXPECT_FALSE(limiter.Allow(1, now));
  now += 1;
  EXPECT_TRUE(limiter.Allow(1, now));  // one answer per 200 ms
  EXPECT_FALSE(limiter.Allow(1, now));
  now += 10000;
  answered = 0;
  for (int i = 0; i < 100; ++i) answered += limiter.Allow(1, now) ? 1 : 0;
  EXPECT_EQ(answered, 5);  // a long pause gives a burst back, no more

  // Many sources (forged ones, say): past the bound they share one budget.
  answered = 0;
  for (uint32_t source = 100; source < 1100; ++source) answered += limiter.Allow(source, now) ? 1 : 0;
  EXPECT_LE(answered, 4 + 5);
}

}  // namespace
}  // namespace orrin
