#include "net/socket_platform.h"
#include <gtest/gtest.h>

#include "net/ipv4_network.h"

namespace orrin {
namespace {

in_addr Address(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address;
}

TEST(NetworkList, ParsesCidrListsAndMatchesSources) {
  std::string error;
  auto networks = ParseNetworkList("192.168.1.77/24,10.0.0.0/8,172.16.5.4", error);
  ASSERT_TRUE(networks) << error;
  ASSERT_EQ(networks->size(), 3u);
  EXPECT_EQ((*networks)[0].address, 0xC0A80100u);  // host bits dropped
  EXPECT_TRUE(IsAllowedSource(*networks, Address("192.168.1.200")));
  EXPECT_FALSE(IsAllowedSource(*networks, Address("192.168.2.1")));
  EXPECT_TRUE(IsAllowedSource(*networks, Address("10.255.0.1")));
  EXPECT_TRUE(IsAllowedSource(*networks, Address("172.16.5.4")));   // no length: one host
  EXPECT_FALSE(IsAllowedSource(*networks, Address("172.16.5.5")));
  EXPECT_FALSE(IsAllowedSource(*networks, Address("127.0.0.1")));

  auto everything = ParseNetworkList("0.0.0.0/0", error);
  ASSERT_TRUE(everything);
  EXPECT_TRUE(IsAllowedSource(*everything, Address("8.8.8.8")));
  EXPECT_TRUE(IsAllowedSource({}, Address("8.8.8.8")));  // no list: no restriction
}

TEST(NetworkList, RefusesWhatIsNotANetwork) {
  for (const char* bad : {"", ",", "10.0.0.0/", "10.0.0.0/33", "10.0.0.0/-1", "10.0.0.0/8x", "10.0.0/8",
                          "host.example/24", "10.0.0.0/8,", " 10.0.0.0/8", "::1/128"}) {
    std::string error;
    EXPECT_FALSE(ParseNetworkList(bad, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace orrin
