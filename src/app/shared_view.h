#pragma once

#include <memory>

#include "app/receiver_options.h"
#include "media/cast_tap.h"
#include "record/recorder.h"
#include "share/share_server.h"
#include "support/receiver_metrics.h"

namespace orrin {

// The shared view of --share, started and wired to the cast: null without the option. Its
// failure to listen is logged here and is a start-up failure (null with `failed` set).
// `metrics` and `recorder` must outlive it.
std::unique_ptr<ShareServer> StartSharedView(const ReceiverOptions& options, ReceiverMetrics& metrics,
                                             const Recorder& recorder, bool& failed);

// What the cast callbacks tap: the recorder's listener, and the shared view's when there is one.
std::shared_ptr<const CastTapListener> CastListeners(std::shared_ptr<const CastTapListener> recorder,
                                                     ShareServer* share);

// Undoes StartSharedView's wiring (after the services have stopped), then stops the server.
void StopSharedView(std::unique_ptr<ShareServer>& share);

}  // namespace orrin
