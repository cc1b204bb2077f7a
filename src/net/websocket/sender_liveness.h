#pragma once

#include <cstdint>
#include <optional>

namespace orrin {

struct SenderLivenessSettings {
  // A Wi-Fi link stalls for a fraction of a second (a background scan, a roam takes one
  // or two), and a cast sends pictures or sound many times a second: 3 s of silence is
  // already unusual. Then pings 2 s apart, and 10 s without any answer is a sender gone
  // (released well within 15 s of its last byte).
  uint32_t pingAfterMs = 3000;
  uint32_t pingEveryMs = 2000;
  uint32_t giveUpMs = 10000;
  uint32_t quietLineMs = 30000;
};

// Tells a sender whose screen is off from one that is gone. A phone with its screen off
// sends nothing, but its WebSocket stack still answers a ping; a phone that walked out of
// range answers nothing. So once a sender has been silent for `pingAfterMs` it is pinged
// every `pingEveryMs`, and after `giveUpMs` with nothing at all heard from it (no frame,
// no pong) it is let go.
//
// Separately, `quietLineMs` without a frame of the sender's own (pongs do not count)
// writes the reader's "receive time-out" line, as long silences always have.
//
// Times are Tick() milliseconds; intervals are unsigned differences. Pure: the socket
// loop asks Next() what is due and WaitMs() how long it may block before asking again.
class SenderLiveness {
 public:
  using Settings = SenderLivenessSettings;

  enum class Due { Nothing, Ping, QuietLine, LetGo };

  SenderLiveness() : SenderLiveness(Settings{}, 0) {}
  SenderLiveness(Settings settings, uint32_t now) : settings_(settings) { Restart(now); }

  // A new sender starts being heard now.
  void Restart(uint32_t now);
  // Bytes arrived (a pong counts: the sender is there).
  void Heard(uint32_t now);
  // A frame of the sender's own arrived (anything but a pong).
  void Spoke(uint32_t now);

  // The next thing due at `now`, one at a time: call until it returns Nothing. A Ping or
  // QuietLine returned is taken as done.
  Due Next(uint32_t now);
  // Milliseconds until something may be due (at least 1).
  uint32_t WaitMs(uint32_t now) const;

  // How long nothing has been heard.
  uint32_t SilentFor(uint32_t now) const;
  const Settings& Limits() const { return settings_; }

 private:
  Settings settings_;
  uint32_t heard_ = 0;
  uint32_t spoke_ = 0;
  std::optional<uint32_t> lastPing_;  // since the sender was last heard
};

}  // namespace orrin
