#include "media/disk_audio.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orrin::test {

DiskAudioFile::DiskAudioFile(int delayMs) : delayMs_(delayMs) {
  char name[] = "/tmp/orrin-audio-XXXXXX";
  int fd = ::mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  path_ = name;
}

DiskAudioFile::~DiskAudioFile() { ::unlink(path_.c_str()); }

std::vector<std::string> DiskAudioFile::Environment() const {
  std::vector<std::string> env{"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + path_};
  if (delayMs_ >= 0) env.push_back("SDL_DISKAUDIODELAY=" + std::to_string(delayMs_));
  return env;
}

void DiskAudioFile::Apply() const {
  ::unsetenv("SDL_DISKAUDIODELAY");
  for (const std::string& entry : Environment()) {
    size_t eq = entry.find('=');
    ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
}

ByteBuffer DiskAudioFile::Contents() const { return ReadFileBytes(path_); }

ByteBuffer DiskAudioFile::SoundOnly() const { return StripSilence(Contents()); }

bool DiskAudioFile::WaitForSound(size_t bytes, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (SoundOnly().size() < bytes) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

ByteBuffer ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteBuffer(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ByteBuffer StripSilence(const ByteBuffer& pcm) {
  ByteBuffer sound;
  sound.reserve(pcm.size());
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    if (pcm[i] == 0 && pcm[i + 1] == 0) continue;
    sound.push_back(pcm[i]);
    sound.push_back(pcm[i + 1]);
  }
  return sound;
}

ByteBuffer MakeSound(size_t bytes, unsigned seed) {
  ByteBuffer pcm(bytes);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    state = state * 1664525u + 1013904223u;
    uint16_t sample = static_cast<uint16_t>(state >> 16);
    if (sample == 0) sample = 1;
    pcm[i] = static_cast<uint8_t>(sample & 0xff);
    pcm[i + 1] = static_cast<uint8_t>(sample >> 8);
  }
  if (bytes % 2 == 1) pcm[bytes - 1] = 0x5a;
  return pcm;
}

long ReadVmRssKiB(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      long kib = -1;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

}  // namespace orrin::test
