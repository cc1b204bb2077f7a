#include "app/shared_view.h"

#include "media/audio_format.h"
#include "support/log.h"

namespace orrin {

std::unique_ptr<ShareServer> StartSharedView(const ReceiverOptions& options, const ReceiverMetrics& metrics,
                                             AudioPlayback& audio, const Recorder& recorder, bool& failed) {
  failed = false;
  if (options.sharePort == 0) return nullptr;
  ShareOptions shareOptions;
  shareOptions.address = options.shareAddress;
  shareOptions.port = options.sharePort;
  shareOptions.token = options.shareToken;
  shareOptions.allow = options.allow;
  auto facts = [&audio, &recorder] {
    ReceiverFacts f;
    f.soundQueuedSeconds = static_cast<double>(audio.QueuedBytes()) / AUDIO_BYTES_PER_SECOND;
    f.soundFramesPlayed = audio.PlayedFrames();
    f.soundGaps = audio.Gaps();
    f.recording = recorder.status().writing;
    return f;
  };
  auto share = std::make_unique<ShareServer>(shareOptions, metrics, facts);
  if (!share->Start()) {
    failed = true;
    return nullptr;
  }
  LogInfo("Shared view on http://" + share->ListeningAddress() + "/" +
          (options.shareToken.empty() ? "" : " (with its token)"));
  return share;
}

CastSink ShareSink(ShareHub& hub) {
  CastSink sink;
  sink.started = [&hub](CastSession& session) { hub.SenderChanged(true, session.clientInfo()); };
  sink.picture = [&hub](CastSession&, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
    hub.Picture(jpeg, receivedNs);
  };
  sink.sound = [&hub](CastSession&, const ByteBuffer& pcm, int64_t) { hub.Sound(pcm); };
  sink.ended = [&hub](CastSession& session) { hub.SenderChanged(false, session.clientInfo()); };
  return sink;
}

}  // namespace orrin
