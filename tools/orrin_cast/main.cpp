// orrin-cast: a command-line sender for Orrin receivers (and the tool our tests and
// benchmarks cast with).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <numbers>
#include <thread>

#include "discovery_client.h"
#include "net/socket.h"
#include "support/version.h"
#include "options.h"
#include "pattern.h"
#include "progress.h"
#include "wav.h"
#include "ws_client.h"

namespace orrin::cast {
namespace {

constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_CONNECT_FAILED = 3;
constexpr int EXIT_HANDSHAKE_REFUSED = 4;
constexpr int EXIT_CONNECTION_LOST = 5;
constexpr uint8_t CAST_VIDEO = 0;
constexpr uint8_t CAST_AUDIO = 1;
constexpr size_t AUDIO_FRAME_BYTES = 640;  // 20 ms of 16 kHz mono 16-bit

std::atomic<bool> interrupted{false};

using Clock = std::chrono::steady_clock;

int ExitFor(WsClient::Status status) {
  switch (status) {
    case WsClient::Status::Ok: return 0;
    case WsClient::Status::ConnectFailed: return EXIT_CONNECT_FAILED;
    case WsClient::Status::HandshakeRefused: return EXIT_HANDSHAKE_REFUSED;
    case WsClient::Status::ConnectionLost: return EXIT_CONNECTION_LOST;
  }
  return 1;
}

bool ReadFile(const std::string& path, ByteBuffer& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// Loads every picture before the first byte is sent, so a bad file is refused up front.
bool LoadJpegs(const Options& o, std::vector<ByteBuffer>& pictures, std::string& error) {
  std::vector<std::string> files = o.jpegFiles;
  if (!o.jpegDir.empty()) {
    DIR* dir = opendir(o.jpegDir.c_str());
    if (dir == nullptr) {
      error = "cannot open directory " + o.jpegDir;
      return false;
    }
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      if (lower.ends_with(".jpg") || lower.ends_with(".jpeg")) files.push_back(o.jpegDir + "/" + name);
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    if (files.empty()) {
      error = "no .jpg or .jpeg files in " + o.jpegDir;
      return false;
    }
  }
  for (const std::string& file : files) {
    ByteBuffer bytes;
    if (!ReadFile(file, bytes, error)) return false;
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
      error = file + " is not a JPEG file (it does not start with FF D8)";
      return false;
    }
    pictures.push_back(std::move(bytes));
  }
  return true;
}

// `bytes` of a sine tone, starting at sample number `firstSample`.
ByteBuffer MakeTone(double hz, size_t firstSample, size_t bytes) {
  ByteBuffer pcm(bytes);
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    double t = static_cast<double>(firstSample + i / 2) / 16000.0;
    auto sample = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * std::numbers::pi * hz * t)));
    pcm[i] = static_cast<uint8_t>(sample & 0xFF);
    pcm[i + 1] = static_cast<uint8_t>((sample >> 8) & 0xFF);
  }
  return pcm;
}

// A JPEG start marker, then noise that neither compresses nor looks like a frame header.
ByteBuffer MakeRawPicture(size_t size) {
  ByteBuffer picture(size);
  uint32_t state = 0x9E3779B9u;
  for (uint8_t& b : picture) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  picture[0] = 0xFF;
  picture[1] = 0xD8;
  return picture;
}

uint32_t WallClockMs() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

int RunDiscover(const Options& o) {
  std::string error;
  auto found = Discover(o.probeTo, o.tcp, o.timeoutSeconds, error);
  if (!error.empty()) {
    std::cerr << "orrin-cast: " << error << "\n";
    return o.tcp ? EXIT_CONNECT_FAILED : EXIT_BAD_INPUT;
  }
  for (const ReceiverInfo& r : found) std::cout << "NAME=" << r.name << "\tIP=" << r.ip << "\tPORT=" << r.port << "\n";
  if (found.empty()) std::cerr << "orrin-cast: no receiver answered within " << o.timeoutSeconds << " s\n";
  return 0;
}

int RunCast(const Options& o) {
  std::vector<ByteBuffer> pictures;
  std::unique_ptr<PatternEncoder> pattern;
  ByteBuffer sound;
  std::string error;
  if (!LoadJpegs(o, pictures, error)) {
    std::cerr << "orrin-cast: " << error << "\n";
    return EXIT_BAD_INPUT;
  }
  if (o.patternWidth > 0) pattern = std::make_unique<PatternEncoder>(o.patternWidth, o.patternHeight, o.quality, o.colour);
  if (pattern && o.pregenerate > 0) {
    for (long i = 0; i < o.pregenerate; ++i) {
      pictures.push_back(pattern->Encode(i, error));
      if (pictures.back().empty()) {
        std::cerr << "orrin-cast: " << error << "\n";
        return 1;
      }
    }
    pattern.reset();
  }
  if (o.rawSize > 0) pictures.push_back(MakeRawPicture(o.rawSize));
  if (!o.wavFile.empty()) {
    ByteBuffer file;
    if (!ReadFile(o.wavFile, file, error)) {
      std::cerr << "orrin-cast: " << error << "\n";
      return EXIT_BAD_INPUT;
    }
    WavResult wav = ParseWav(file);
    if (!wav.error.empty()) {
      std::cerr << "orrin-cast: " << o.wavFile << ": " << wav.error << "\n";
      return EXIT_BAD_INPUT;
    }
    sound = std::move(wav.samples);
  }

  WsClient client;
  WsClient::Status status = client.Connect(o.host, o.port, 5.0, error);
  if (status != WsClient::Status::Ok) {
    std::cerr << "orrin-cast: " << error << "\n";
    return ExitFor(status);
  }

  if (o.ping) {
    auto sent = Clock::now();
    status = client.SendPing({'o', 'r', 'r', 'i', 'n'}, error);
    if (status == WsClient::Status::Ok && client.WaitForPong(5000)) {
      auto ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      std::cerr << "orrin-cast: pong received after " << ms << " ms\n";
    } else if (status == WsClient::Status::Ok) {
      std::cerr << "orrin-cast: no pong within 5 s\n";
    }
  }

  Progress progress(!o.quiet && isatty(STDERR_FILENO));
  const bool hasPictures = o.HasPictures();
  const bool hasSound = o.HasSound();
  const auto start = Clock::now();
  const auto pictureInterval = o.fps > 0 ? std::chrono::duration<double>(1.0 / o.fps) : std::chrono::duration<double>(0);
  auto nextPicture = start;
  auto nextSound = start;
  long pictureIndex = 0;
  size_t soundOffset = 0;
  long soundFrames = 0;
  ByteBuffer message;

  auto timeUp = [&] {
    if (o.durationSeconds && std::chrono::duration<double>(Clock::now() - start).count() >= *o.durationSeconds) return true;
    if (o.frames && pictureIndex >= *o.frames) return true;
    if (!hasPictures && !o.durationSeconds && !o.wavFile.empty() && soundOffset >= sound.size()) return true;
    if (!hasPictures && !hasSound) return true;  // only --ping/--close
    return false;
  };

  while (status == WsClient::Status::Ok && !interrupted && !timeUp()) {
    auto now = Clock::now();
    bool pictureDue = hasPictures && (!o.frames || pictureIndex < *o.frames) && now >= nextPicture;
    bool soundDue = hasSound && now >= nextSound && (o.toneHz > 0 || soundOffset < sound.size());
    if (!pictureDue && !soundDue) {
      auto wake = Clock::time_point::max();
      if (hasPictures) wake = std::min(wake, nextPicture);
      if (hasSound) wake = std::min(wake, nextSound);
      if (wake == Clock::time_point::max()) break;
      std::this_thread::sleep_until(std::min(wake, now + std::chrono::milliseconds(50)));
      if (client.PeerClosed()) status = WsClient::Status::ConnectionLost, error = "the receiver closed the connection";
      continue;
    }
    for (int burst = 0; soundDue && burst < o.soundBurst && status == WsClient::Status::Ok &&
                        (o.toneHz > 0 || soundOffset < sound.size());
         ++burst) {
      ByteBuffer chunk;
      if (o.toneHz > 0) {
        chunk = MakeTone(o.toneHz, soundOffset / 2, AUDIO_FRAME_BYTES);
      } else {
        size_t take = std::min(AUDIO_FRAME_BYTES, sound.size() - soundOffset);
        chunk.assign(sound.begin() + static_cast<long>(soundOffset), sound.begin() + static_cast<long>(soundOffset + take));
      }
      soundOffset += AUDIO_FRAME_BYTES;
      message = MakeCastMessage(CAST_AUDIO, WallClockMs(), chunk);
      status = client.SendMessage(message, o.fragment, error);
      progress.Sound(message.size());
      ++soundFrames;
    }
    if (soundDue) {
      // 20 ms of sound per frame by the sender's own clock.
      nextSound += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(0.02 * o.soundBurst / o.soundClock));
    }
    if (pictureDue && status == WsClient::Status::Ok) {
      ByteBuffer jpeg;
      if (pattern) {
        jpeg = pattern->Encode(pictureIndex, error);
        if (jpeg.empty()) {
          std::cerr << "orrin-cast: " << error << "\n";
          return 1;
        }
      }
      const ByteBuffer& content = pattern ? jpeg : pictures[static_cast<size_t>(pictureIndex) % pictures.size()];
      message = MakeCastMessage(CAST_VIDEO, WallClockMs(), content);
      status = client.SendMessage(message, o.fragment, error);
      progress.Picture(message.size());
      ++pictureIndex;
      nextPicture += std::chrono::duration_cast<Clock::duration>(pictureInterval);
      if (o.fps > 0 && Clock::now() - nextPicture > std::chrono::seconds(1)) nextPicture = Clock::now();  // fell behind: don't burst
    }
  }

  if (status == WsClient::Status::Ok && o.close) {
    status = client.SendClose(error);
    if (status == WsClient::Status::Ok && !client.WaitForPeerClose(5000))
      std::cerr << "orrin-cast: the receiver did not close the connection within 5 s\n";
  }
  progress.Finish();
  std::cerr << "orrin-cast: " << progress.Summary(std::chrono::duration<double>(Clock::now() - start).count()) << "\n";
  if (status != WsClient::Status::Ok) {
    std::cerr << "orrin-cast: connection lost: " << error << "\n";
    return EXIT_CONNECTION_LOST;
  }
  return 0;
}

}  // namespace
}  // namespace orrin::cast

int main(int argc, char** argv) {
  using namespace orrin::cast;
  int socketError = 0;
  if (!orrin::StartSockets(socketError)) {
    std::cerr << "orrin-cast: sockets cannot be used: " << orrin::SocketErrorText(socketError) << "\n";
    return 1;
  }
  std::signal(SIGINT, [](int) { interrupted = true; });
  std::signal(SIGTERM, [](int) { interrupted = true; });

  ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::cerr << "orrin-cast: " << parsed.error << "\n";
    return EXIT_BAD_INPUT;
  }
  const Options& o = *parsed.options;
  switch (o.mode) {
    case Options::Mode::Help: std::cout << UsageText(); return 0;
    case Options::Mode::Version: std::cout << "orrin-cast " << orrin::VersionText() << "\n"; return 0;
    case Options::Mode::Discover: return RunDiscover(o);
    case Options::Mode::Cast: return RunCast(o);
  }
  return 1;
}
