#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "share/share_hub.h"
#include "share/share_request.h"
#include "share/share_status.h"
#include "share/viewer_queue.h"
#include "support/receiver_metrics.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;

ShareRoute Route(std::string_view path, std::string_view token = {}, std::string_view query = {},
                 std::string_view cookie = {}, std::string_view method = "GET") {
  return RouteShareRequest({method, path, query, cookie}, token).route;
}

TEST(ShareRequestTest, OnlyTheFixedAnswersAreServed) {
  EXPECT_EQ(Route("/"), ShareRoute::Page);
  EXPECT_EQ(Route("/view.js"), ShareRoute::Script);
  EXPECT_EQ(Route("/stream.mjpg"), ShareRoute::PictureStream);
  EXPECT_EQ(Route("/snapshot.jpg"), ShareRoute::Snapshot);
  EXPECT_EQ(Route("/sound.pcm"), ShareRoute::SoundStream);
  EXPECT_EQ(Route("/status"), ShareRoute::Status);
  EXPECT_EQ(Route("/metrics"), ShareRoute::Metrics);
  for (std::string_view path : {"/../etc/passwd", "/status/", "/STATUS", "//status", "/view.js/..", "", "/index.html",
                                "/%2e%2e/x"}) {
    EXPECT_EQ(Route(path), ShareRoute::NotFound) << path;
  }
  EXPECT_EQ(Route("/status", {}, {}, {}, "POST"), ShareRoute::MethodNotAllowed);
  EXPECT_EQ(Route("/status", {}, {}, {}, "get"), ShareRoute::MethodNotAllowed);
  const ShareDecision head = RouteShareRequest({"HEAD", "/snapshot.jpg", {}, {}}, {});
  EXPECT_EQ(head.route, ShareRoute::Snapshot);
  EXPECT_TRUE(head.headOnly);
}

TEST(ShareRequestTest, ATokenIsNeededForEveryAnswerByQueryOrCookie) {
  const std::string token = "s3cret-Token";
  EXPECT_EQ(Route("/status", token), ShareRoute::Unauthorized);
  EXPECT_EQ(Route("/nothing-here", token), ShareRoute::Unauthorized);  // no hint which paths exist
  EXPECT_EQ(Route("/status", token, "token=s3cret-Toke"), ShareRoute::Unauthorized);
  EXPECT_EQ(Route("/status", token, "token=s3cret-Token2"), ShareRoute::Unauthorized);
  EXPECT_EQ(Route("/status", token, "xtoken=s3cret-Token"), ShareRoute::Unauthorized);
  EXPECT_EQ(Route("/status", token, {}, "other=s3cret-Token"), ShareRoute::Unauthorized);

  const ShareDecision byQuery = RouteShareRequest({"GET", "/", "a=1&token=s3cret-Token", {}}, token);
  EXPECT_EQ(byQuery.route, ShareRoute::Page);
  EXPECT_TRUE(byQuery.setTokenCookie);
  const ShareDecision byCookie =
      RouteShareRequest({"GET", "/stream.mjpg", {}, "theme=dark; orrin_share_token=s3cret-Token"}, token);
  EXPECT_EQ(byCookie.route, ShareRoute::PictureStream);
  EXPECT_FALSE(byCookie.setTokenCookie);
  // Without a token of its own the server lets everyone in, whatever they bring.
  EXPECT_EQ(Route("/status", {}, "token=x"), ShareRoute::Status);
}

TEST(ShareRequestTest, ComparisonsAndValuesAndOptions) {
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "ab"));
  EXPECT_FALSE(ConstantTimeEquals("ab", "abc"));
  EXPECT_FALSE(ConstantTimeEquals("", "a"));
  EXPECT_EQ(QueryValue("a=1&b=&c=3", "b"), std::string_view());
  EXPECT_EQ(QueryValue("a=1&c=3", "b"), std::nullopt);
  EXPECT_EQ(CookieValue(" x = 1 ;y=2", "y"), "2");

  EXPECT_EQ(ShareTokenProblem("Abc-1._~"), "");
  EXPECT_NE(ShareTokenProblem(""), "");
  EXPECT_NE(ShareTokenProblem("a b"), "");
  EXPECT_NE(ShareTokenProblem("a&b"), "");
  EXPECT_NE(ShareTokenProblem(std::string(129, 'a')), "");

  std::string address, why;
  int port = 0;
  EXPECT_TRUE(ParseShareEndpoint("8080", address, port, why));
  EXPECT_EQ(address, "");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(ParseShareEndpoint("192.168.1.20:80", address, port, why));
  EXPECT_EQ(address, "192.168.1.20");
  EXPECT_EQ(port, 80);
  for (const char* bad : {"", "0", "65536", "80x", "host:80", "1.2.3:80", ":80", "1.2.3.4:", "-1"}) {
    EXPECT_FALSE(ParseShareEndpoint(bad, address, port, why)) << bad;
  }
}

TEST(ShareRequestTest, DatesAreWrittenAsHttpWantsThem) {
  EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
  EXPECT_EQ(HttpDate(4102444799), "Thu, 31 Dec 2099 23:59:59 GMT");
  EXPECT_EQ(HttpDate(4107542399), "Sun, 28 Feb 2100 23:59:59 GMT");  // 2100 has no 29 February
}

TEST(ViewerQueueTest, AFullQueueLosesItsOldestAndCloseWakesTheReader) {
  ViewerQueue<int> queue(2);
  EXPECT_TRUE(queue.Push(1));
  EXPECT_TRUE(queue.Push(2));
  EXPECT_TRUE(queue.Push(3));
  EXPECT_EQ(queue.Dropped(), 1u);
  EXPECT_EQ(queue.Pop(0ms), 2);
  EXPECT_EQ(queue.Pop(0ms), 3);
  EXPECT_EQ(queue.Pop(10ms), std::nullopt);

  std::thread closer([&] {
    std::this_thread::sleep_for(50ms);
    queue.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(queue.Pop(10s), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  closer.join();
  EXPECT_TRUE(queue.Closed());
  EXPECT_FALSE(queue.Push(4));
}

std::shared_ptr<const ByteBuffer> Jpeg(uint8_t marker) {
  // A frame header of 64x48, enough for the size to be read.
  return std::make_shared<const ByteBuffer>(
      ByteBuffer{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x30, 0x00, 0x40, 0x03, 0x01, 0x22, 0x00, 0x02,
                 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xD9, marker});
}

TEST(ShareHubTest, SeatsAreBoundedAndGivenBack) {
  ShareHub hub(2);
  auto first = hub.WatchPictures();
  auto second = hub.WatchPictures();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_FALSE(hub.WatchPictures());
  EXPECT_TRUE(hub.ListenToSound());  // sound seats are counted apart
  {
    auto moved = std::move(first);
    EXPECT_EQ(hub.PictureViewers(), 2u);
  }
  EXPECT_EQ(hub.PictureViewers(), 1u);
  EXPECT_TRUE(hub.WatchPictures());
  hub.Close();
  EXPECT_TRUE(second.queue().Closed());
  EXPECT_FALSE(hub.WatchPictures());
}

TEST(ShareHubTest, AStalledViewerLosesPicturesAndNobodyWaitsForIt) {
  ShareHub hub;
  hub.SenderChanged(true, "10.0.0.2:5000");
  auto stalled = hub.WatchPictures();
  auto reader = hub.WatchPictures();
  for (uint8_t i = 0; i < 100; ++i) {
    hub.Picture(Jpeg(i), i);
    std::optional<SharedPicture> got = reader.queue().Pop(0ms);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->jpeg->back(), i);
  }
  EXPECT_EQ(stalled.queue().Dropped(), 100 - ShareHub::PICTURES_PER_VIEWER);
  EXPECT_EQ(stalled.queue().Pop(0ms)->jpeg->back(), 98);
  const SharedSender sender = hub.Sender();
  EXPECT_EQ(sender.address, "10.0.0.2:5000");
  EXPECT_EQ(sender.width, 64);
  EXPECT_EQ(sender.height, 48);

  // A newcomer starts with the newest picture; a sender's leaving takes it away.
  auto late = hub.WatchPictures();
  EXPECT_EQ(late.queue().Pop(0ms)->jpeg->back(), 99);
  EXPECT_EQ(hub.NewestPicture().jpeg->back(), 99);
  // A newcomer took over before the replaced sender's end was told: the end changes nothing.
  hub.SenderChanged(true, "10.0.0.3:6000");
  hub.Picture(Jpeg(7), 7);
  hub.SenderChanged(false, "10.0.0.2:5000");
  EXPECT_EQ(hub.Sender().address, "10.0.0.3:6000");
  EXPECT_EQ(hub.NewestPicture().jpeg->back(), 7);
  hub.SenderChanged(false, "10.0.0.3:6000");
  EXPECT_FALSE(hub.NewestPicture().jpeg);
  EXPECT_FALSE(hub.Sender().connected);
}

TEST(ShareHubTest, SoundGoesOnlyToListeners) {
  ShareHub hub;
  hub.Sound(ByteBuffer(640, 1));  // nobody listens: nothing kept
  auto listener = hub.ListenToSound();
  EXPECT_EQ(listener.queue().Pop(0ms), std::nullopt);
  hub.Sound(ByteBuffer(640, 2));
  std::optional<SharedSound> got = listener.queue().Pop(0ms);
  ASSERT_TRUE(got);
  EXPECT_EQ(**got, ByteBuffer(640, 2));
}

TEST(ShareMetricsTest, HistogramBucketsAreCumulativeAndTheRateSpansASecond) {
  Histogram histogram({0.01, 0.1});
  for (double v : {0.005, 0.01, 0.05, 2.0, -1.0}) histogram.Observe(v);
  const Histogram::Snapshot s = histogram.Take();
  EXPECT_EQ(s.cumulative, (std::vector<uint64_t>{3, 4, 5}));
  EXPECT_EQ(s.count, 5u);
  EXPECT_NEAR(s.sum, 2.065, 1e-6);

  CounterRate rate;
  const int64_t second = 1'000'000'000;
  EXPECT_EQ(rate.Update(0, 100), 0);  // nothing to compare with yet
  EXPECT_NEAR(rate.Update(second, 130), 30, 1e-9);
  EXPECT_NEAR(rate.Update(second + second / 5, 136), 30, 1e-9);
  EXPECT_NEAR(rate.Update(3 * second, 136), 0, 1e-9);  // stopped
}

TEST(ShareStatusTest, StatusAndMetricsTexts) {
  ShareStatus status;
  status.version = "1.0 \"x\"";
  status.sender = {true, "10.0.0.2:5000\n", 1280, 720};
  status.picturesReceived = 42;
  status.pictureViewers = 3;
  status.decode = Histogram({0.5}).Take();
  status.present = status.decode;
  const std::string json = StatusJson(status);
  EXPECT_NE(json.find(R"("version":"1.0 \"x\"")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("address":"10.0.0.2:5000\u000a","width":1280,"height":720)"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("viewers":3)"), std::string::npos) << json;
  status.sender = {};
  EXPECT_NE(StatusJson(status).find(R"("senders":[])"), std::string::npos);

  const std::string metrics = MetricsText(status);
  EXPECT_NE(metrics.find("# TYPE orrin_pictures_received_total counter\norrin_pictures_received_total 42\n"),
            std::string::npos);
  EXPECT_NE(metrics.find("orrin_viewers{stream=\"pictures\"} 3\n"), std::string::npos);
  EXPECT_NE(metrics.find("orrin_decode_seconds_bucket{le=\"+Inf\"} 0\n"), std::string::npos);
  EXPECT_NE(metrics.find("orrin_senders_connected 0\n"), std::string::npos);
}

}  // namespace
}  // namespace orrin
