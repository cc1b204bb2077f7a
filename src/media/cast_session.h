#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/decode_scale.h"
#include "media/picture_pacing.h"
#include "media/picture_slot.h"
#include "media/sender_clock_intake.h"
#include "support/bytes.h"
#include "support/log_thinning.h"

namespace orrin {

class CastStats;
class CastSession;

// A frame arriving less than 20 ms after the last accepted one is dropped unseen.
constexpr unsigned FRAME_INTERVAL_MS = 20;
// Every 30th accepted frame writes a progress line.
constexpr int VIDEO_LOG_EVERY = 30;
// Repaint requests for new pictures are at least 33 ms apart (a picture stored sooner gets
// its repaint at the 33 ms mark), and none is made while the window has not taken the
// previous one, so requests never pile up behind a busy window.
constexpr unsigned REPAINT_INTERVAL_MS = 33;
// A connected sender whose pictures stop for longer than this has turned its screen off.
constexpr uint32_t SCREEN_OFF_TIMEOUT_MS = 3000;

// One consumer of a session's media besides the screen: the sound output, the recorder,
// later a shared view. Called on the sender's thread; each must return at once and never
// wait for a disk or for a lock held across slow work. Empty functions are skipped.
struct CastSink {
  std::function<void(CastSession&)> started;
  // A picture the session accepted and decoded, as the sender's JPEG bytes, with the time
  // its last byte arrived (NowNs()).
  std::function<void(CastSession&, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs)> picture;
  std::function<void(CastSession&, const ByteBuffer& pcm, int64_t receivedNs)> sound;
  std::function<void(CastSession&)> ended;
};

// The screen's side of a session, told on the sender's thread; whoever wires it hands the
// news to the main thread, which then reads the session it was told about.
struct ScreenSink {
  std::function<void(CastSession&)> connected;
  // A new picture is in the session's slot; its repaint is due at `dueNs` (TickNs()).
  std::function<void(CastSession&, int64_t dueNs)> pictureStored;
  // Pictures came again after the screen-off state.
  std::function<void(CastSession&)> screenOn;
  std::function<void(CastSession&)> disconnected;
};

// What every session of one run shares: the settings from the command line and the few
// counters that run on from one sender to the next.
class CastRun {
 public:
  struct Settings {
    // `--max-fps N`: pictures are taken in and repainted up to N a second (spacing 1000/N
    // ms, measured on the fine clock, a picture half a period early still kept). 0: the
    // defaults (20 ms intake, 33 ms between repaints).
    int maxFps = 0;
    // Off: video frames are counted (statistics) but neither throttled nor decoded. Only the
    // ingest benchmark switches decoding off, to measure the frame reader alone.
    bool decode = true;
  };

  // `stats` outlives the run and every session.
  CastRun(Settings settings, CastStats& stats) : settings_(settings), stats_(stats) {}

  const Settings& settings() const { return settings_; }
  CastStats& stats() const { return stats_; }
  // The count of accepted pictures over the whole run, this one included.
  int32_t CountPicture() { return ++videoFrameCount_; }
  // True once: for the first picture stored in the run.
  bool FirstPicture() { return !firstPictureSeen_.exchange(true); }
  // Decoded pictures: one line in 30 by default, about a line a second of a 30 fps cast.
  LogThinner& decodedProgress() { return decodedProgress_; }

 private:
  const Settings settings_;
  CastStats& stats_;
  std::atomic<int32_t> videoFrameCount_{0};
  std::atomic<bool> firstPictureSeen_{false};
  LogThinner decodedProgress_{30};
};

// One sender, from its successful handshake to the end of its connection: its newest
// picture, the pacing of its pictures, its screen on/off state and where its media goes.
//
// Threads: the sender's thread calls Start, OnVideoFrame, OnAudioFrame and End, in that
// order and one at a time. The main thread reads the picture, the flags and the draw area,
// runs the screen check and takes repaints.
class CastSession : public std::enable_shared_from_this<CastSession> {
 public:
  CastSession(std::string clientInfo, CastRun& run, ScreenSink screen, std::vector<CastSink> sinks);
  CastSession(const CastSession&) = delete;
  CastSession& operator=(const CastSession&) = delete;

  // "a.b.c.d:port" of the sender.
  const std::string& clientInfo() const { return clientInfo_; }

  // Sender's thread.
  void Start();
  // One JPEG picture (the cast header removed): throttled, decoded, stored. Never throws.
  // With the sender's time stamp of the picture, the intake runs on the sender's clock where
  // it is usable (see SenderClockIntake), so jitter on the link does not cost pictures and
  // after a stall the newest wins.
  void OnVideoFrame(const ByteBuffer& data, std::optional<uint32_t> senderStampMs = std::nullopt);
  void OnAudioFrame(const ByteBuffer& data);
  // The connection ended: the picture goes with it.
  void End();

  // Main thread.
  const PictureSlot& picture() const { return slot_; }
  PictureSlot& picture() { return slot_; }
  bool connected() const { return connected_.load(); }
  bool screenActive() const { return screenActive_.load(); }
  // More than SCREEN_OFF_TIMEOUT_MS since the last accepted picture while connected and
  // active: the screen is off. True when this call turned it off.
  bool CheckScreen(uint32_t now);
  // The area the picture is drawn into; the next picture is decoded for it.
  void SetDrawArea(DrawArea area) { drawArea_.store(PackDrawArea(area), std::memory_order_relaxed); }
  // The window is about to paint: the newest picture whose time has come is brought
  // forward, and one stored after this asks again. Returns when the window should paint
  // again for a picture still waiting, if one is.
  std::optional<int64_t> RepaintTaken();
  CastStats& stats() const { return run_.stats(); }

 private:
  bool AcceptPicture(uint32_t now, std::optional<uint32_t> senderStampMs);
  void StorePicture(const ByteBuffer& data, int64_t receivedNs);

  const std::string clientInfo_;
  CastRun& run_;
  const ScreenSink screen_;
  const std::vector<CastSink> sinks_;
  PictureSlot slot_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> screenActive_{true};
  std::atomic<uint32_t> lastFrameTime_{0};  // Tick() of the last accepted picture or the connection
  uint32_t lastAcceptTime_ = 0;             // sender's thread only
  IntakeGate intakeGate_;                   // sender's thread only (--max-fps)
  SenderClockIntake stampedIntake_;         // sender's thread only (pictures with stamps)
  int64_t holdNs_ = 0;                      // sender's thread only: the accepted picture's wait
  RepaintPacer repaintPacer_;
  std::atomic<uint32_t> drawArea_{0};  // packed; 0: unknown, decode at full size
};

}  // namespace orrin
