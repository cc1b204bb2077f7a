#include "net/socket_platform.h"
#include <gtest/gtest.h>

#include "support/host_identity.h"
#include "net/discovery/answer_address.h"

namespace orrin {
namespace {

std::string FormatDotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

TEST(ComputerName, ShortNameRules) {
  EXPECT_EQ(ShortComputerName("office-pc"), "office-pc");
  EXPECT_EQ(ShortComputerName("office-pc.lan.example.org"), "office-pc");
  EXPECT_EQ(ShortComputerName("a-very-long-machine-name"), "a-very-long-mac");  // 15 characters
  EXPECT_EQ(ShortComputerName(""), "Windows-PC");
  EXPECT_EQ(ShortComputerName(".hidden"), "Windows-PC");
}

TEST(ComputerName, ThisMachine) {
  std::string name = GetLocalComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name.find('.'), std::string::npos);
}

TEST(LocalAddress, FirstCandidateOutsideTheLoopbackNetwork) {
  EXPECT_EQ(ChooseLocalIPAddress({}), "127.0.0.1");
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.0.1"}), "127.0.0.1");
  EXPECT_EQ(ChooseLocalIPAddress({"192.168.1.20", "10.0.0.5"}), "192.168.1.20");
  EXPECT_EQ(ChooseLocalIPAddress({"10.0.0.5", "192.168.1.20"}), "10.0.0.5");
  // Debian's /etc/hosts entry for the host name, and the rest of 127/8.
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.1.1", "192.168.1.20"}), "192.168.1.20");
  EXPECT_EQ(ChooseLocalIPAddress({"127.255.255.254", "127.0.1.1"}), "127.0.0.1");
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.0.1", "169.254.3.4"}), "169.254.3.4");
  EXPECT_TRUE(IsLoopbackAddress("127.1.2.3"));
  EXPECT_FALSE(IsLoopbackAddress("128.0.0.1"));
  EXPECT_FALSE(IsLoopbackAddress("not an address"));
  // Only a whole dotted quad counts, as the platform's parser reads one.
  for (const char* malformed : {"127.0.0", "127.0.0.1.5", "127.0.0.", "127.0.0.256", "0127.0.0.1", "127..0.1", ""}) {
    EXPECT_FALSE(IsLoopbackAddress(malformed)) << malformed;
  }
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.0"));
}

TEST(LocalAddress, DefaultRouteInterfaceComesFirstThenInterfaceOrder) {
  const std::vector<InterfaceAddress> interfaces = {
      {"lo", "127.0.0.1"}, {"docker0", "172.17.0.1"}, {"wlan0", "192.168.1.20"}, {"wlan0", "192.168.1.21"},
      {"tun0", "10.8.0.2"}};
  EXPECT_EQ(OrderInterfaceAddresses(interfaces, "wlan0"),
            (std::vector<std::string>{"192.168.1.20", "192.168.1.21", "127.0.0.1", "172.17.0.1", "10.8.0.2"}));
  EXPECT_EQ(ChooseLocalIPAddress(OrderInterfaceAddresses(interfaces, "wlan0")), "192.168.1.20");
  // No default route (an isolated LAN): the first interface in order that is not loopback.
  EXPECT_EQ(ChooseLocalIPAddress(OrderInterfaceAddresses(interfaces, "")), "172.17.0.1");
  EXPECT_EQ(ChooseLocalIPAddress(OrderInterfaceAddresses(interfaces, "eth9")), "172.17.0.1");
}

TEST(LocalAddress, DefaultRouteReadFromTheRouteTable) {
  const std::string heading = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  EXPECT_EQ(DefaultRouteInterface(heading), "");
  EXPECT_EQ(DefaultRouteInterface(""), "");
  EXPECT_EQ(DefaultRouteInterface(heading +
                                  "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                                  "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                  "eth0\t00000000\t010010AC\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                  "tun0\t00000000\t00000000\t0000\t0\t0\t1\t00000000\t0\t0\t0\n"
                                  "garbage line\n"),
            "eth0");  // lowest metric among the default routes that are up
}

TEST(LocalAddress, AnswerNamesTheAddressTheProbeReachedUnlessLoopbackOrUnknown) {
  in_addr reached{};
  inet_pton(AF_INET, "10.1.2.3", &reached);
  EXPECT_EQ(AnswerAddressFor(&reached), "10.1.2.3");
  const std::string general = GetLocalIPAddress();
  for (const char* other : {"127.0.0.1", "127.0.1.1", "0.0.0.0", "255.255.255.255", "224.0.0.1"}) {
    inet_pton(AF_INET, other, &reached);
    EXPECT_EQ(AnswerAddressFor(&reached), general) << other;
  }
  EXPECT_EQ(AnswerAddressFor(nullptr), general);
}

TEST(LocalAddress, ThisMachineGivesADottedQuadOutsideLoopbackWhenItHasOne) {
  std::string ip = GetLocalIPAddress();
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &parsed), 1) << ip;
  EXPECT_TRUE(ip == "127.0.0.1" || !IsLoopbackAddress(ip)) << ip;
  const std::string fromInterfaces = GetInterfaceIPAddress();
  if (!IsLoopbackAddress(fromInterfaces)) {
    EXPECT_EQ(ip, fromInterfaces);
  }
}

// Windows lists no broadcast addresses: they come from each address's prefix, and a probe
// from one of them must be told from a host's.
TEST(LocalAddress, BroadcastAddressFollowsFromThePrefix) {
  auto broadcast = [](const char* address, unsigned prefix) {
    in_addr parsed{};
    inet_pton(AF_INET, address, &parsed);
    in_addr result{};
    result.s_addr = DirectedBroadcast(parsed.s_addr, prefix);
    return FormatDotted(result);
  };
  EXPECT_EQ(broadcast("192.168.1.20", 24), "192.168.1.255");
  EXPECT_EQ(broadcast("10.1.2.3", 8), "10.255.255.255");
  EXPECT_EQ(broadcast("172.16.5.4", 20), "172.16.15.255");
  EXPECT_EQ(broadcast("192.168.1.20", 30), "192.168.1.23");
  // Point-to-point and host routes have none; a /0 would be every address.
  for (unsigned prefix : {0u, 31u, 32u}) EXPECT_EQ(broadcast("192.168.1.20", prefix), "0.0.0.0") << prefix;
}

TEST(LocalAddress, ThisMachinesBroadcastAddressesAreNoHostAddresses) {
  for (in_addr_t address : LocalBroadcastAddresses()) {
    in_addr value{};
    value.s_addr = address;
    const std::string text = FormatDotted(value);
    EXPECT_NE(text, GetInterfaceIPAddress());
    EXPECT_NE(ntohl(address) & 1u, 0u) << text;  // at least the last host bit is set
  }
}

}  // namespace
}  // namespace orrin
