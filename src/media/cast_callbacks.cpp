#include "media/cast_callbacks.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "media/cast_stats.h"
#include "media/cast_tap.h"
#include "media/decode_scale.h"
#include "media/display_state.h"
#include "media/jpeg_decoder.h"
#include "media/picture_pacing.h"
#include "support/log.h"
#include "support/tick.h"
#include "support/utf8.h"

namespace orrin {
namespace {

constexpr const char* TITLE_CONNECTED = "Tavoli网投屏接受客户端 - 已连接: ";
constexpr const char* TITLE_WAITING = "Tavoli网投屏接受客户端 - 等待连接...";
constexpr const char* TITLE_SCREEN_ON = "Tavoli网投屏接受客户端 - 屏幕已点亮";
constexpr const char* ERROR_CAPTION = "错误";

// Process-wide and never reset by a connection. Only one sender thread calls
// OnVideoFrame at a time; atomics keep a hand-over between two sender threads race-free.
std::atomic<bool> isFirstFrame{true};
std::atomic<uint32_t> lastAcceptTime{0};
std::atomic<int32_t> videoFrameCount{0};
std::atomic<bool> decodingOn{true};

constexpr int64_t NS_PER_MS = 1'000'000;
constexpr int64_t NS_PER_SECOND = 1'000'000'000;
RepaintPacer repaintPacer{int64_t{REPAINT_INTERVAL_MS} * NS_PER_MS};

// --max-fps; 0 keeps the millisecond throttle. The gate is touched by the sender's thread,
// and for a moment by two of them when one sender replaces another.
std::atomic<int> maxPictureRate{0};
std::mutex intakeMutex;
IntakeGate intakeGate{NS_PER_SECOND / 50};

bool AcceptPicture(uint32_t now) {
  if (maxPictureRate.load(std::memory_order_relaxed) > 0) {
    std::lock_guard<std::mutex> lock(intakeMutex);
    return intakeGate.Accept(TickNs());
  }
  return TicksBetween(lastAcceptTime.load(), now) >= FRAME_INTERVAL_MS;
}

void SetTitle(const WindowPort& port, const std::string& title) {
  if (port.setTitle) port.setTitle(title);
}

void RequestRepaint(const WindowPort& port, bool erase) {
  if (port.requestRepaint) port.requestRepaint(erase);
}

void RequestPictureRepaint(const WindowPort& port, int64_t dueNs) {
  if (port.requestRepaintAt) {
    port.requestRepaintAt(dueNs);
  } else {
    RequestRepaint(port, false);
  }
}

void StorePicture(const ByteBuffer& data, int64_t receivedNs) {
  const bool timed = CastTimingWanted();
  int scale = 1;
  std::unique_ptr<Picture> picture = CreateBitmapFromJPEG(data, PublishedDrawArea(), &scale);
  if (picture == nullptr) {
    LogError("Failed to create bitmap from JPEG data");
    return;
  }
  if (timed) {
    picture->receivedNs = receivedNs;
    StatsPictureDecoded(static_cast<double>(NowNs() - receivedNs) / 1e6, scale);
  }
  picture->jpeg = std::make_shared<const ByteBuffer>(data);
  TapPicture(picture->jpeg, receivedNs);
  ReplaceCurrentFrame(std::move(picture));

  if (isFirstFrame.exchange(false)) LogInfo("收到第一帧投屏画面，按F11进入全屏模式");

  // Requests at least 33 ms apart, none while the window has not taken the last one (the
  // paint it does shows the newest picture), and none refused: a picture stored sooner is
  // repainted at the 33 ms mark. So no picture waits for a later one or the 1 s timer.
  if (auto window = mainWindow()) {
    if (std::optional<int64_t> due = repaintPacer.PictureStored(TickNs())) {
      RequestPictureRepaint(*window, *due);  // the paint pass covers the whole window: no erase
    }
  }
}

}  // namespace

void OnVideoFrame(const ByteBuffer& data) {
  // Taken first: the frame reader calls us as soon as the last byte is in.
  const int64_t receivedNs = NowNs();
  StatsPictureReceived(data.size());
  if (!decodingOn.load(std::memory_order_relaxed)) return;
  uint32_t now = Tick();
  if (!AcceptPicture(now)) {
    StatsPictureDropped();
    return;
  }

  lastAcceptTime = now;
  int32_t count = videoFrameCount.fetch_add(1) + 1;
  if (count % VIDEO_LOG_EVERY == 0) {
    LogProgress("OnVideoFrame called with " + std::to_string(data.size()) + " bytes (frame #" +
            std::to_string(count) + ")");
  }
  lastFrameTime = now;

  // A frame is a sign of life even when it does not decode, so the screen-off state ends
  // before decoding.
  if (!isScreenActive.exchange(true)) {
    LogInfo("投屏设备屏幕已点亮，恢复显示");
    if (auto window = mainWindow()) SetTitle(*window, TITLE_SCREEN_ON);
  }

  try {
    StorePicture(data, receivedNs);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in OnVideoFrame: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in OnVideoFrame");
  }
}

void RepaintTaken() { repaintPacer.RepaintTaken(); }

void SetMaxPictureRate(int fps) {
  const int64_t repaintNs = fps > 0 ? NS_PER_SECOND / fps : int64_t{REPAINT_INTERVAL_MS} * NS_PER_MS;
  repaintPacer.SetInterval(repaintNs);
  {
    std::lock_guard<std::mutex> lock(intakeMutex);
    intakeGate = IntakeGate(fps > 0 ? NS_PER_SECOND / fps : NS_PER_SECOND / 50);
  }
  maxPictureRate = fps;
}

void SetPictureDecoding(bool on) { decodingOn = on; }

void OnConnectionChanged(bool connected, const std::string& clientInfo) {
  TapConnection(connected, clientInfo);
  isConnected = connected;
  if (connected) {
    StatsCastStarted();
    isScreenActive = true;
    lastFrameTime = Tick();
  } else {
    isScreenActive = false;
  }

  auto window = mainWindow();
  if (window == nullptr) {
    // Nothing to tell a window that does not exist, but the sender's last picture must
    // not outlive its connection: the next sender would be shown it.
    if (!connected) ReplaceCurrentFrame(nullptr);
    return;
  }

  std::string title;
  if (connected) {
    title = TITLE_CONNECTED + SanitizeUtf8(clientInfo);
    LogInfo("客户端已连接: " + clientInfo);
  } else {
    title = TITLE_WAITING;
    LogInfo("客户端已断开连接");
    if (isFullscreen && window->leaveFullscreen) window->leaveFullscreen();
    ReplaceCurrentFrame(nullptr);
  }
  SetTitle(*window, title);
  RequestRepaint(*window, true);
}

void OnError(const std::string& message) {
  LogError(message);
  if (auto window = mainWindow(); window != nullptr && window->showErrorBox) {
    window->showErrorBox(ERROR_CAPTION, SanitizeUtf8(message));
  }
}

void ResetCastCallbacksForTesting() {
  isFirstFrame = true;
  lastAcceptTime = 0;
  videoFrameCount = 0;
  SetMaxPictureRate(0);
  repaintPacer.Reset();
  decodingOn = true;
}

}  // namespace orrin
