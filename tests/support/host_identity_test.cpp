#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "support/host_identity.h"

namespace orrin {
namespace {

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

TEST(LocalAddress, FirstAddressThatIsNotExactly127001InResolverOrder) {
  EXPECT_EQ(ChooseLocalIPAddress({}), "127.0.0.1");
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.0.1"}), "127.0.0.1");
  EXPECT_EQ(ChooseLocalIPAddress({"192.168.1.20", "10.0.0.5"}), "192.168.1.20");
  EXPECT_EQ(ChooseLocalIPAddress({"10.0.0.5", "192.168.1.20"}), "10.0.0.5");
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.1.1", "192.168.1.20"}), "127.0.1.1");
  EXPECT_EQ(ChooseLocalIPAddress({"127.0.0.1", "192.168.1.20"}), "192.168.1.20");
}

TEST(LocalAddress, ThisMachineGivesADottedQuad) {
  std::string ip = GetLocalIPAddress();
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &parsed), 1) << ip;
}

}  // namespace
}  // namespace orrin
