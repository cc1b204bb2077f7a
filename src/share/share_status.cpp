#include "share/share_status.h"

#include <cstdio>

namespace orrin {

namespace {

constexpr int64_t NS_PER_SECOND = 1'000'000'000;

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string Whole(uint64_t value) { return std::to_string(value); }

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const std::string& name, const std::string& value) {
  out += name;
  out += ' ';
  out += value;
  out += '\n';
}

void Counter(std::string& out, const char* name, const char* help, uint64_t value) {
  Family(out, name, "counter", help);
  Sample(out, name, Whole(value));
}

void Gauge(std::string& out, const char* name, const char* help, double value) {
  Family(out, name, "gauge", help);
  Sample(out, name, Number(value));
}

void HistogramFamily(std::string& out, const char* name, const char* help, const Histogram::Snapshot& h) {
  Family(out, name, "histogram", help);
  const std::string base = name;
  for (size_t i = 0; i < h.cumulative.size(); ++i) {
    const std::string bound = i < h.upperBounds.size() ? Number(h.upperBounds[i]) : "+Inf";
    Sample(out, base + "_bucket{le=\"" + bound + "\"}", Whole(h.cumulative[i]));
  }
  Sample(out, base + "_sum", Number(h.sum));
  Sample(out, base + "_count", Whole(h.count));
}

}  // namespace

double CounterRate::Update(int64_t nowNs, uint64_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (points_.empty() || nowNs - points_.back().ns >= NS_PER_SECOND / 10) points_.push_back({nowNs, count});
  // The oldest point kept is the newest one at least a second old.
  while (points_.size() > 1 && points_[1].ns <= nowNs - NS_PER_SECOND) points_.pop_front();
  const Point& from = points_.front();
  const int64_t span = nowNs - from.ns;
  if (span < NS_PER_SECOND / 2 || count < from.count) return 0;
  return static_cast<double>(count - from.count) * NS_PER_SECOND / static_cast<double>(span);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string StatusJson(const ShareStatus& s) {
  std::string senders = "[]";
  if (s.sender.connected) {
    senders = "[{\"address\":" + JsonString(s.sender.address) + ",\"width\":" + std::to_string(s.sender.width) +
              ",\"height\":" + std::to_string(s.sender.height) +
              ",\"pictures_received_per_second\":" + Number(s.receivedPerSecond) +
              ",\"pictures_shown_per_second\":" + Number(s.shownPerSecond) +
              ",\"sound_queued_seconds\":" + Number(s.facts.soundQueuedSeconds) + "}]";
  }
  return "{\"version\":" + JsonString(s.version) + ",\"uptime_seconds\":" + Number(s.uptimeSeconds) +
         ",\"senders\":" + senders + ",\"recording\":" + (s.facts.recording ? "true" : "false") +
         ",\"viewers\":" + std::to_string(s.pictureViewers) + ",\"listeners\":" + std::to_string(s.soundListeners) +
         "}\n";
}

std::string MetricsText(const ShareStatus& s) {
  std::string out;
  Family(out, "orrin_build_info", "gauge", "The receiver's version.");
  Sample(out, "orrin_build_info{version=" + JsonString(s.version) + "}", "1");
  Gauge(out, "orrin_uptime_seconds", "Seconds since the receiver started.", s.uptimeSeconds);
  Counter(out, "orrin_pictures_received_total", "Pictures that arrived from senders.", s.picturesReceived);
  Counter(out, "orrin_pictures_shown_total", "Pictures that reached the screen.", s.picturesShown);
  Counter(out, "orrin_pictures_dropped_total", "Pictures dropped unseen by the intake rate limit.",
          s.picturesDropped);
  Counter(out, "orrin_sound_frames_played_total", "Sound frames queued for the sound device.",
          s.facts.soundFramesPlayed);
  Counter(out, "orrin_sound_gaps_total", "Times the sound ran dry while playing.", s.facts.soundGaps);
  Counter(out, "orrin_connections_total", "TCP connections accepted on the cast port.", s.connections);
  Counter(out, "orrin_handshakes_failed_total", "Opening handshakes that failed.", s.handshakesFailed);
  Counter(out, "orrin_senders_refused_total", "Senders refused (outside --allow, or --hold).", s.sendersRefused);
  Counter(out, "orrin_discovery_answers_total", "Discovery probes answered.", s.discoveryAnswers);
  Counter(out, "orrin_share_sent_bytes_total", "Bytes sent to viewers of the shared view.", s.bytesSent);
  Gauge(out, "orrin_senders_connected", "Senders connected now.", s.sender.connected ? 1 : 0);
  Family(out, "orrin_viewers", "gauge", "Viewers of the shared view's live streams.");
  Sample(out, "orrin_viewers{stream=\"pictures\"}", Whole(s.pictureViewers));
  Sample(out, "orrin_viewers{stream=\"sound\"}", Whole(s.soundListeners));
  Gauge(out, "orrin_sound_queued_seconds", "Sound waiting for the sound device.", s.facts.soundQueuedSeconds);
  HistogramFamily(out, "orrin_decode_seconds", "From a picture's last byte received to the picture decoded.",
                  s.decode);
  HistogramFamily(out, "orrin_receive_to_present_seconds",
                  "From a picture's last byte received to the picture on screen.", s.present);
  return out;
}

}  // namespace orrin
