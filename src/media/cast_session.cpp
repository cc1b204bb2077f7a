#include "media/cast_session.h"

#include <exception>
#include <optional>
#include <utility>

#include "media/cast_stats.h"
#include "media/jpeg_decoder.h"
#include "support/log.h"
#include "support/tick.h"

namespace orrin {
namespace {

constexpr int64_t NS_PER_MS = 1'000'000;
constexpr int64_t NS_PER_SECOND = 1'000'000'000;

int64_t RepaintIntervalNs(int maxFps) {
  return maxFps > 0 ? NS_PER_SECOND / maxFps : int64_t{REPAINT_INTERVAL_MS} * NS_PER_MS;
}

int64_t IntakeIntervalNs(int maxFps) { return maxFps > 0 ? NS_PER_SECOND / maxFps : NS_PER_SECOND / 50; }

}  // namespace

CastSession::CastSession(std::string clientInfo, CastRun& run, ScreenSink screen, std::vector<CastSink> sinks)
    : clientInfo_(std::move(clientInfo)),
      run_(run),
      screen_(std::move(screen)),
      sinks_(std::move(sinks)),
      intakeGate_(IntakeIntervalNs(run.settings().maxFps)),
      // --max-fps keeps pictures on its grid; by default the 20 ms rule, on the sender's
      // clock where it is usable.
      stampedIntake_(IntakeIntervalNs(run.settings().maxFps), 50'000'000, run.settings().maxFps > 0,
                     clientInfo_.rfind("127.", 0) != 0),
      repaintPacer_(RepaintIntervalNs(run.settings().maxFps)) {}

void CastSession::Start() {
  for (const CastSink& sink : sinks_) {
    if (sink.started) sink.started(*this);
  }
  stats().CastStarted();
  screenActive_ = true;
  lastFrameTime_ = Tick();
  connected_ = true;
  if (screen_.connected) screen_.connected(*this);
}

void CastSession::End() {
  for (const CastSink& sink : sinks_) {
    if (sink.ended) sink.ended(*this);
  }
  connected_ = false;
  screenActive_ = false;
  // The sender's last picture must not outlive its connection: the next sender would be
  // shown it, and its memory would stay taken while nobody casts.
  slot_.Replace(nullptr);
  if (screen_.disconnected) screen_.disconnected(*this);
}

bool CastSession::CheckScreen(uint32_t now) {
  if (!connected_ || !screenActive_ || TicksBetween(lastFrameTime_, now) <= SCREEN_OFF_TIMEOUT_MS) return false;
  return screenActive_.exchange(false);
}

std::optional<int64_t> CastSession::RepaintTaken() {
  repaintPacer_.RepaintTaken();
  const std::optional<int64_t> next = slot_.ShowDue(TickNs());
  if (!next) return std::nullopt;
  return repaintPacer_.PictureStored(*next);
}

bool CastSession::AcceptPicture(uint32_t now, std::optional<uint32_t> senderStampMs) {
  holdNs_ = 0;
  if (senderStampMs) {
    if (!stampedIntake_.Accept(*senderStampMs, TickNs())) return false;
    holdNs_ = stampedIntake_.holdNs();
    return true;
  }
  if (run_.settings().maxFps > 0) return intakeGate_.Accept(TickNs());
  return TicksBetween(lastAcceptTime_, now) >= FRAME_INTERVAL_MS;
}

void CastSession::OnVideoFrame(const ByteBuffer& data, std::optional<uint32_t> senderStampMs) {
  // Taken first: the frame reader calls us as soon as the last byte is in.
  const int64_t receivedNs = NowNs();
  stats().PictureReceived(data.size());
  if (!run_.settings().decode) return;
  const uint32_t now = Tick();
  if (!AcceptPicture(now, senderStampMs)) {
    stats().PictureDropped();
    return;
  }

  lastAcceptTime_ = now;
  const int32_t count = run_.CountPicture();
  if (count % VIDEO_LOG_EVERY == 0) {
    LogProgress("OnVideoFrame called with " + std::to_string(data.size()) + " bytes (frame #" +
                std::to_string(count) + ")");
  }
  lastFrameTime_ = now;

  // A frame is a sign of life even when it does not decode, so the screen-off state ends
  // before decoding.
  if (!screenActive_.exchange(true)) {
    LogInfo("投屏设备屏幕已点亮，恢复显示");
    if (screen_.screenOn) screen_.screenOn(*this);
  }

  try {
    StorePicture(data, receivedNs);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in OnVideoFrame: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in OnVideoFrame");
  }
}

void CastSession::StorePicture(const ByteBuffer& data, int64_t receivedNs) {
  const bool timed = stats().TimingWanted();
  int scale = 1;
  const DrawArea area = UnpackDrawArea(drawArea_.load(std::memory_order_relaxed));
  std::unique_ptr<Picture> picture = CreateBitmapFromJPEG(data, area, &scale);
  if (picture == nullptr) {
    LogError("Failed to create bitmap from JPEG data");
    return;
  }
  LogMessageProgress(run_.decodedProgress(),
                     "Successfully created HBITMAP from JPEG data (" + std::to_string(data.size()) + " bytes)");
  if (timed) {
    picture->receivedNs = receivedNs;
    stats().PictureDecoded(static_cast<double>(NowNs() - receivedNs) / 1e6, scale);
  }
  picture->jpeg = std::make_shared<const ByteBuffer>(data);
  for (const CastSink& sink : sinks_) {
    if (sink.picture) sink.picture(*this, picture->jpeg, receivedNs);
  }
  // A picture the link brought early waits for its turn, so a bunched pair is shown as
  // evenly as it was sent; only a screen paints the waiting ones forward.
  const int64_t nowNs = TickNs();
  const int64_t showAtNs = nowNs + holdNs_;
  if (screen_.pictureStored && (holdNs_ > 0 || slot_.Waits())) {
    slot_.Queue(std::move(picture), showAtNs, nowNs);
  } else {
    slot_.Replace(std::move(picture));
  }

  if (run_.FirstPicture()) LogInfo("收到第一帧投屏画面，按F11进入全屏模式");

  // Requests at least 33 ms apart, none while the window has not taken the last one (the
  // paint it does shows the newest picture due), and none refused: a picture stored sooner
  // is repainted at the 33 ms mark. So no picture waits for a later one or the 1 s timer.
  if (screen_.pictureStored) {
    if (std::optional<int64_t> due = repaintPacer_.PictureStored(showAtNs)) screen_.pictureStored(*this, *due);
  }
}

void CastSession::OnAudioFrame(const ByteBuffer& data) {
  const int64_t receivedNs = NowNs();
  for (const CastSink& sink : sinks_) {
    if (sink.sound) sink.sound(*this, data, receivedNs);
  }
}

}  // namespace orrin
