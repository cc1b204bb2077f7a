#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/bytes.h"

namespace orrin::test {

// A scratch file that SDL's disk audio driver writes the played sound into. SDL reads
// SDL_AUDIODRIVER when its audio subsystem starts and SDL_DISKAUDIOFILE / SDL_DISKAUDIODELAY
// when a device opens, so Apply() must come before the device is opened. The driver writes
// one device buffer per delay (real-time pace by default); whenever the queue runs dry it
// writes silence (zero samples), which SoundOnly() removes again.
class DiskAudioFile {
 public:
  // delayMs < 0: SDL's own real-time pace.
  explicit DiskAudioFile(int delayMs = -1);
  ~DiskAudioFile();
  DiskAudioFile(const DiskAudioFile&) = delete;
  DiskAudioFile& operator=(const DiskAudioFile&) = delete;

  const std::string& path() const { return path_; }
  // Name=value pairs for a child process (the receiver started by an end-to-end test).
  std::vector<std::string> Environment() const;
  // Sets the same variables in this process.
  void Apply() const;

  ByteBuffer Contents() const;   // everything written so far
  ByteBuffer SoundOnly() const;  // without the silence SDL filled gaps with
  // Waits until at least `bytes` of sound have reached the file.
  bool WaitForSound(size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  std::string path_;
  int delayMs_;
};

ByteBuffer ReadFileBytes(const std::string& path);
// Drops every zero 16-bit sample (the silence SDL writes when its queue is empty).
ByteBuffer StripSilence(const ByteBuffer& pcm);
// `bytes` of 16-bit PCM in which no sample is zero, so it survives StripSilence whole;
// different seeds give different sound.
ByteBuffer MakeSound(size_t bytes, unsigned seed);
// Resident memory of a process in KiB, from /proc/<pid>/status (-1 if unreadable).
long ReadVmRssKiB(const std::string& pid = "self");

}  // namespace orrin::test
