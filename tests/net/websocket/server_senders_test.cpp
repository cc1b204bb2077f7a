// Several senders at once and senders that wait to be let in, over real loopback sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "net/websocket/websocket_server.h"
#include "test_support/log_capture.h"
#include "test_support/sender_callbacks.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using test::ConnectionLog;
using test::RawClient;

std::string Local(const RawClient& client) { return "127.0.0.1:" + std::to_string(client.LocalPort()); }

ByteBuffer Picture() { return test::ClientFrame(0x2, true, test::CastMessage(0, 1, test::Pattern(100))); }

ByteBuffer CloseFrameOf(uint16_t status, const std::string& reason) {
  std::string bytes = {'\x88', static_cast<char>(2 + reason.size()), static_cast<char>(status >> 8),
                       static_cast<char>(status & 0xFF)};
  bytes += reason;
  return ByteBuffer(bytes.begin(), bytes.end());
}

struct Running {
  test::LogCapture log;
  ConnectionLog connections;
  std::unique_ptr<WebSocketServer> server = std::make_unique<WebSocketServer>(0);
  int port = 0;

  explicit Running(size_t senders, bool hold = false, SenderAdmission admission = {}) {
    server->SetSenderOpener(
        test::OpenerFor({.connection = [this](bool c, const std::string& info) { connections(c, info); }}));
    server->SetMaxSenders(senders);
    server->SetHoldCurrentSender(hold);
    server->SetSenderAdmission(std::move(admission));
    EXPECT_TRUE(server->Start());
    port = server->ListeningPort();
  }
};

TEST(ServerSenders, UpToNCastTogetherAndTheQuietestMakesRoom) {
  Running r(2);
  RawClient quiet(r.port);
  ASSERT_TRUE(quiet.Handshake());
  ASSERT_TRUE(r.connections.WaitForCount(1));
  RawClient busy(r.port);
  ASSERT_TRUE(busy.Handshake());
  ASSERT_TRUE(r.connections.WaitForCount(2));
  EXPECT_FALSE(quiet.WaitClosed(100ms));  // two places: nobody replaced
  // `busy` shows pictures, `quiet` (the older one) has shown nothing since it came.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(busy.Send(Picture()));
    std::this_thread::sleep_for(30ms);
  }
  RawClient newcomer(r.port);
  ASSERT_TRUE(newcomer.Handshake());
  ASSERT_TRUE(r.connections.WaitForCount(4));
  EXPECT_TRUE(quiet.WaitClosed());
  EXPECT_FALSE(busy.WaitClosed(100ms));
  const auto events = r.connections.Events();
  // The leaving sender is told `false` before the newcomer opens.
  EXPECT_EQ(events[2], std::make_pair(false, std::string()));
  EXPECT_EQ(events[3], std::make_pair(true, Local(newcomer)));
}

TEST(ServerSenders, HoldRefusesOnlyWhenEveryPlaceIsTaken) {
  Running r(2, /*hold=*/true);
  RawClient a(r.port);
  ASSERT_TRUE(a.Handshake());
  ASSERT_TRUE(r.connections.WaitForCount(1));
  RawClient b(r.port);
  ASSERT_TRUE(b.Handshake());
  ASSERT_TRUE(r.connections.WaitForCount(2));
  RawClient c(r.port);
  ASSERT_TRUE(c.Handshake());
  const ByteBuffer expected = CloseFrameOf(1013, "try again later");
  EXPECT_EQ(c.Read(expected.size()), expected);
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_FALSE(a.WaitClosed(50ms));
  EXPECT_FALSE(b.WaitClosed(50ms));
}

// Tickets handed out by the admission check, for the test to decide.
struct Gate {
  std::mutex mutex;
  std::vector<std::shared_ptr<AdmissionTicket>> tickets;
  std::atomic<int> previewPictures{0};
  std::atomic<int> previewsEnded{0};
  std::string admitAtOnce;  // this source goes on without a ticket

  SenderAdmission Check() {
    return [this](const std::string&, const std::string& source) -> std::shared_ptr<AdmissionTicket> {
      if (source == admitAtOnce) return nullptr;
      SenderHooks preview;
      preview.video = [this](const ByteBuffer&, uint32_t) { ++previewPictures; };
      preview.ended = [this] { ++previewsEnded; };
      auto ticket = std::make_shared<AdmissionTicket>(std::move(preview));
      std::lock_guard<std::mutex> lock(mutex);
      tickets.push_back(ticket);
      return ticket;
    };
  }
  std::shared_ptr<AdmissionTicket> Ticket(size_t index, std::chrono::milliseconds timeout = 5s) {
    std::shared_ptr<AdmissionTicket> found;
    test::Eventually(
        [&] {
          std::lock_guard<std::mutex> lock(mutex);
          if (tickets.size() > index) found = tickets[index];
          return found != nullptr;
        },
        timeout);
    return found;
  }
};

TEST(ServerAdmission, AWaitingSenderIsPreviewedThenAdmittedOrRefusedWith1008) {
  Gate gate;
  Running r(1, false, gate.Check());
  RawClient admitted(r.port);
  ASSERT_TRUE(admitted.Handshake());
  auto first = gate.Ticket(0);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(admitted.Send(Picture()));
  EXPECT_TRUE(test::Eventually([&] { return gate.previewPictures == 1; }));
  EXPECT_TRUE(r.connections.Events().empty());  // not a sender yet
  first->Decide(true);
  ASSERT_TRUE(r.connections.WaitForCount(1));
  EXPECT_EQ(r.connections.Events()[0], std::make_pair(true, Local(admitted)));
  EXPECT_EQ(gate.previewsEnded, 1);

  // The second waits while the first casts; refused, it gets 1008 and the first goes on.
  RawClient refused(r.port);
  ASSERT_TRUE(refused.Handshake());
  auto second = gate.Ticket(1);
  ASSERT_NE(second, nullptr);
  second->Decide(false, "no answer");
  second->Decide(true);  // too late: the first decision stands
  const ByteBuffer expected = CloseFrameOf(1008, "not approved");
  EXPECT_EQ(refused.Read(expected.size()), expected);
  EXPECT_TRUE(refused.WaitClosed());
  EXPECT_TRUE(r.log.WaitFor("Sender refused, not approved: " + Local(refused) + " (no answer)"));
  EXPECT_FALSE(admitted.WaitClosed(50ms));
  EXPECT_EQ(r.connections.Events().size(), 1u);
}

TEST(ServerAdmission, ASenderLeavingWhileItWaitsEndsItsPreviewAndAnApprovedOneGoesOnAtOnce) {
  Gate gate;
  gate.admitAtOnce = "none yet";
  Running r(1, false, gate.Check());
  {
    RawClient leaving(r.port);
    ASSERT_TRUE(leaving.Handshake());
    ASSERT_NE(gate.Ticket(0), nullptr);
  }
  EXPECT_TRUE(test::Eventually([&] { return gate.previewsEnded == 1; }));
  EXPECT_TRUE(r.connections.Events().empty());
  r.server->Stop();
  gate.admitAtOnce = "127.0.0.1";
  ASSERT_TRUE(r.server->Start());
  RawClient known(r.server->ListeningPort());
  ASSERT_TRUE(known.Handshake());
  EXPECT_TRUE(r.connections.WaitForCount(1));
  EXPECT_EQ(gate.Ticket(1, 200ms), nullptr);  // no ticket: it was let in at once
}

TEST(ServerAdmission, StopEndsASenderThatWaits) {
  Gate gate;
  Running r(1, false, gate.Check());
  RawClient waiting(r.port);
  ASSERT_TRUE(waiting.Handshake());
  ASSERT_NE(gate.Ticket(0), nullptr);
  r.server->Stop();
  EXPECT_TRUE(waiting.WaitClosed());
  EXPECT_EQ(gate.previewsEnded, 1);
  EXPECT_TRUE(r.connections.Events().empty());
}

}  // namespace
}  // namespace orrin
