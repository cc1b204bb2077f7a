// The cast path end to end inside one process: the real WebSocket server on a loopback
// port, a real cast session per sender and the audio output behind it, and our own sender's
// client code in front of it. What arrives is read back from the sender's session and from
// the file SDL's disk audio driver plays into.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "media/audio_playback.h"
#include "media/cast_session.h"
#include "media/cast_stats.h"
#include "media/disk_audio.h"
#include "media/jpeg_maker.h"
#include "net/websocket/websocket_server.h"
#include "support/log.h"
#include "test_support/log_capture.h"
#include "ws_client.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using cast::MakeCastMessage;
using cast::WsClient;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

class CastPath : public testing::Test {
 protected:
  void SetUp() override {
    // Each sender becomes a session whose sound goes to the one sound output, as in the
    // receiver; the test reads the newest session as the window would.
    server.SetSenderOpener([this](const std::string& clientInfo) {
      CastSink sound;
      sound.sound = [this](CastSession&, const ByteBuffer& pcm, int64_t) { audio.OnAudioFrame(pcm); };
      auto session = std::make_shared<CastSession>(clientInfo, run, ScreenSink{}, std::vector<CastSink>{sound});
      session->Start();
      {
        std::lock_guard<std::mutex> lock(sessionMutex);
        newest = session;
      }
      SenderHooks hooks;
      hooks.video = [session](const ByteBuffer& jpeg, uint32_t stamp) { session->OnVideoFrame(jpeg, stamp); };
      hooks.audio = [session](const ByteBuffer& pcm) { session->OnAudioFrame(pcm); };
      hooks.ended = [session] { session->End(); };
      return hooks;
    });
    server.SetErrorCallback([](const std::string& message) { LogError(message); });
    ASSERT_TRUE(server.Start());
  }
  void TearDown() override { server.Stop(); }

  std::shared_ptr<CastSession> Newest() {
    std::lock_guard<std::mutex> lock(sessionMutex);
    return newest;
  }
  bool Connected() {
    const auto session = Newest();
    return session != nullptr && session->connected();
  }

  void Connect(WsClient& client) {
    std::string detail;
    const auto before = Newest();
    ASSERT_EQ(client.Connect("127.0.0.1", server.ListeningPort(), 5, detail), WsClient::Status::Ok) << detail;
    ASSERT_TRUE(WaitUntil([&] { return Newest() != before && Connected(); }));
  }

  std::pair<int, int> CurrentSize() {
    const auto session = Newest();
    if (session == nullptr) return {0, 0};
    return session->picture().Read([](const Picture* picture, uint64_t) {
      return picture ? std::pair{picture->width, picture->height} : std::pair{0, 0};
    });
  }

  test::LogCapture log;
  CastStats stats;
  AudioPlayback audio{&stats};
  CastRun run{{}, stats};
  std::mutex sessionMutex;
  std::shared_ptr<CastSession> newest;
  WebSocketServer server{0};  // last: stopped first, so no sender outlives what it uses
};

TEST_F(CastPath, APictureSentWholeOrInFragmentsBecomesTheCurrentFrame) {
  WsClient client;
  Connect(client);
  std::string detail;
  ByteBuffer wide = test::CompressJpeg(test::MakeTestImage(640, 360, 1), TJSAMP_420, 85);
  ASSERT_EQ(client.SendMessage(MakeCastMessage(0, 256, wide), 1, detail), WsClient::Status::Ok) << detail;
  ASSERT_TRUE(WaitUntil([&] { return CurrentSize() == std::pair{640, 360}; })) << CurrentSize().first;
  EXPECT_TRUE(log.Contains("Processing frame: type=0, timestamp=256, data_size=" + std::to_string(wide.size())));

  // The throttle takes one picture per 20 ms; the next one arrives later than that.
  std::this_thread::sleep_for(30ms);
  ByteBuffer tall = test::CompressJpeg(test::MakeTestImage(360, 800, 2), TJSAMP_444, 85);
  ASSERT_EQ(client.SendMessage(MakeCastMessage(0, 257, tall), 3, detail), WsClient::Status::Ok) << detail;
  ASSERT_TRUE(WaitUntil([&] { return CurrentSize() == std::pair{360, 800}; })) << CurrentSize().first;
  EXPECT_EQ(Newest()->picture().Read([](const Picture* picture, uint64_t) { return picture->format; }),
            PixelFormat::RGB24);
  EXPECT_EQ(log.Count("Failed"), 0);

  client = WsClient();  // the sender goes away: its picture goes with it
  EXPECT_TRUE(WaitUntil([&] { return !Connected() && CurrentSize() == std::pair{0, 0}; }));
}

TEST_F(CastPath, SoundPlaysInOrderAndTheDeviceOutlivesTheSender) {
  test::DiskAudioFile disk(5);
  disk.Apply();
  ByteBuffer expected;
  std::string detail;
  for (int sender = 0; sender < 2; ++sender) {
    WsClient client;
    Connect(client);
    for (unsigned i = 0; i < 10; ++i) {
      ByteBuffer pcm = test::MakeSound(640, sender * 100 + i);  // 20 ms frames, as a phone sends
      ASSERT_EQ(client.SendMessage(MakeCastMessage(1, i, pcm), 1, detail), WsClient::Status::Ok) << detail;
      expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
    ASSERT_TRUE(disk.WaitForSound(expected.size())) << disk.SoundOnly().size() << " of " << expected.size();
  }
  server.Stop();
  audio.Close();
  EXPECT_EQ(disk.SoundOnly(), expected);
  EXPECT_EQ(log.Count("Audio device initialized successfully"), 1);
}

}  // namespace
}  // namespace orrin
