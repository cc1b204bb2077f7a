#include "app/shared_view.h"

#include "app/services.h"
#include "media/audio_playback.h"
#include "media/cast_stats.h"
#include "support/log.h"

namespace orrin {

std::unique_ptr<ShareServer> StartSharedView(const ReceiverOptions& options, ReceiverMetrics& metrics,
                                             const Recorder& recorder, bool& failed) {
  failed = false;
  if (options.sharePort == 0) return nullptr;
  ShareOptions shareOptions;
  shareOptions.address = options.shareAddress;
  shareOptions.port = options.sharePort;
  shareOptions.token = options.shareToken;
  shareOptions.allow = options.allow;
  auto facts = [&recorder] {
    ReceiverFacts f;
    f.soundQueuedSeconds = static_cast<double>(QueuedAudioBytes()) / AUDIO_BYTES_PER_SECOND;
    f.soundFramesPlayed = PlayedAudioFrames();
    f.soundGaps = AudioGaps();
    f.recording = recorder.status().writing;
    return f;
  };
  auto share = std::make_unique<ShareServer>(shareOptions, metrics, facts);
  if (!share->Start()) {
    failed = true;
    return nullptr;
  }
  SetCastMetrics(&metrics);
  SetServiceMetrics(&metrics);
  LogInfo("Shared view on http://" + share->ListeningAddress() + "/" +
          (options.shareToken.empty() ? "" : " (with its token)"));
  return share;
}

std::shared_ptr<const CastTapListener> CastListeners(std::shared_ptr<const CastTapListener> recorder,
                                                     ShareServer* share) {
  if (share == nullptr) return recorder;
  auto both = std::make_shared<CastTapListener>();
  ShareHub& hub = share->hub();
  both->connection = [recorder, &hub](bool connected, const std::string& clientInfo) {
    if (recorder && recorder->connection) recorder->connection(connected, clientInfo);
    hub.SenderChanged(connected, clientInfo);
  };
  both->picture = [recorder, &hub](const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
    if (recorder && recorder->picture) recorder->picture(jpeg, receivedNs);
    hub.Picture(jpeg, receivedNs);
  };
  both->sound = [recorder, &hub](const ByteBuffer& pcm, int64_t receivedNs) {
    if (recorder && recorder->sound) recorder->sound(pcm, receivedNs);
    hub.Sound(pcm);
  };
  return both;
}

void StopSharedView(std::unique_ptr<ShareServer>& share) {
  if (!share) return;
  SetCastMetrics(nullptr);
  SetServiceMetrics(nullptr);
  share->Stop();
  share.reset();
}

}  // namespace orrin
