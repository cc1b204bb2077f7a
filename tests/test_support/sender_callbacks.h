#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "net/websocket/callbacks.h"

namespace orrin::test {

// A server's receiving end as three callbacks for whichever sender is current: `connection`
// hears (true, "a.b.c.d:port") when a sender's handshake has made it current and
// (false, "") when its connection ends; `video` and `audio` get its media. Empty ones are
// skipped. Tests of the server watch every sender through one set of them.
struct SenderCallbacks {
  std::function<void(bool connected, const std::string& clientInfo)> connection = {};
  FrameCallback video = {};
  FrameCallback audio = {};
  // Pictures with the sender's time stamp, instead of `video`.
  StampedFrameCallback stampedVideo = {};
};

// The opener that feeds every sender's media and its start and end into `callbacks`.
inline SenderOpener OpenerFor(SenderCallbacks callbacks) {
  auto shared = std::make_shared<const SenderCallbacks>(std::move(callbacks));
  return [shared](const std::string& clientInfo) {
    if (shared->connection) shared->connection(true, clientInfo);
    SenderHooks hooks{shared->stampedVideo, shared->audio, {}};
    if (!hooks.video && shared->video) hooks.video = [shared](const ByteBuffer& b, uint32_t) { shared->video(b); };
    if (shared->connection) hooks.ended = [shared] { shared->connection(false, ""); };
    return hooks;
  };
}

}  // namespace orrin::test
