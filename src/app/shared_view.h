#pragma once

#include <memory>

#include "app/receiver_options.h"
#include "media/audio_playback.h"
#include "media/cast_session.h"
#include "record/recorder.h"
#include "share/share_server.h"
#include "support/receiver_metrics.h"

namespace orrin {

// The shared view of --share, listening: null without the option, and null with `failed`
// set when it cannot listen (logged here; a start-up failure). `metrics`, `audio` and
// `recorder` must outlive it.
std::unique_ptr<ShareServer> StartSharedView(const ReceiverOptions& options, const ReceiverMetrics& metrics,
                                             AudioPlayback& audio, const Recorder& recorder, bool& failed);

// The sink that hands a session's pictures and sound to the shared view.
CastSink ShareSink(ShareHub& hub);

}  // namespace orrin
