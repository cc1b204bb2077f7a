#include "app/cast_tools.h"

#include <ctime>

#include "app/painter.h"
#include "media/audio_playback.h"
#include "media/cast_stats.h"
#include "media/cast_session.h"
#include "record/jpeg_size.h"
#include "record/recorder.h"
#include "support/log.h"
#include "support/user_dirs.h"

namespace orrin {

void CastTools::ToggleOverlay() {
  overlayShown_ = !overlayShown_;
  // The figures need the statistics; they stay on once asked for (they cost one short
  // lock per picture).
  if (overlayShown_ && stats_ != nullptr) stats_->Enable(true);
  LogInfo(overlayShown_ ? "Overlay shown" : "Overlay hidden");
}

void CastTools::ToggleRecording() {
  if (recorder_ == nullptr) {
    LogError("Recording is not available in this process");
    return;
  }
  if (recorder_->armed()) {
    recorder_->Stop();
  } else {
    recorder_->StartInFolder(UserDir("XDG_VIDEOS_DIR"));
  }
}

void CastTools::SavePicture(const std::shared_ptr<const ByteBuffer>& jpeg) {
  if (jpeg == nullptr) {
    LogInfo("No picture on screen to save");
    return;
  }
  const std::string path = UnusedPath(UserDir("XDG_PICTURES_DIR"), DatedName(std::time(nullptr), ".jpg"));
  std::string error;
  if (WriteNewFile(path, *jpeg, error)) {
    LogInfo("Picture saved: " + path);
  } else {
    LogError("Failed to save the picture to " + path + ": " + error);
  }
}

OverlayFacts CastTools::Facts(const Painter& painter, const CastSession* session) const {
  OverlayFacts facts;
  if (session != nullptr && session->connected()) facts.sender = session->clientInfo();
  if (const auto& jpeg = painter.shownJpeg()) {
    JpegFrameSize(jpeg->data(), jpeg->size(), facts.pictureWidth, facts.pictureHeight);
  }
  const StatsSnapshot interval = stats_ != nullptr ? stats_->LastInterval() : StatsSnapshot{};
  facts.statsReady = stats_ != nullptr && stats_->Enabled();
  facts.receivedPerSecond = interval.received;
  facts.shownPerSecond = interval.shown;
  facts.bytesPerSecond = interval.receivedBytes;
  facts.decodeP50Ms = interval.decode.p50;
  facts.delayP50Ms = interval.delay.p50;
  const size_t queued = audio_ != nullptr ? audio_->QueuedBytes() : 0;
  facts.soundQueuedMs = static_cast<double>(queued) * 1000.0 / AUDIO_BYTES_PER_SECOND;
  facts.recordingAvailable = recorder_ != nullptr;
  if (recorder_ != nullptr) {
    const Recorder::Status status = recorder_->status(session);
    facts.recordingArmed = status.armed;
    facts.recordingWriting = status.writing;
    facts.recordingPath = status.path;
    facts.recordingSeconds = status.seconds;
    facts.recordingDropped = status.dropped;
    facts.recordingFailure = status.failure;
  }
  return facts;
}

}  // namespace orrin
