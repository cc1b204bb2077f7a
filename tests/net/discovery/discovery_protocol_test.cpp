#include "net/discovery/discovery_protocol.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace orrin
