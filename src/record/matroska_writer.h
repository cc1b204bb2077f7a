#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orrin {

// One Matroska file with an MJPEG track (the JPEG bytes as they are, no re-encode) and a
// 16 kHz mono s16le PCM track. Written for streaming: unknown sizes and no index, so there
// is nothing to fix up at the end, and a cluster goes to the disk about once a second. A
// file cut short (killed process, full disk) is readable up to its last whole cluster; a
// failed write cuts the file back to the end of the last cluster written whole.
// Used by one thread. Without libavformat in the build, Open fails with a clear text.
class MatroskaWriter {
 public:
  // `beforeWrite` runs before each write to the disk (tests: a slow disk).
  explicit MatroskaWriter(std::function<void()> beforeWrite = {});
  ~MatroskaWriter();
  MatroskaWriter(const MatroskaWriter&) = delete;
  MatroskaWriter& operator=(const MatroskaWriter&) = delete;

  // Creates (or truncates) `path` and writes the header; the video track announces
  // `width` x `height`, later pictures may have other sizes. False with `error` set.
  bool Open(const std::string& path, int width, int height, std::string& error);
  // Timestamps in milliseconds from the start of the file, each track's rising.
  bool WritePicture(const uint8_t* jpeg, size_t size, int64_t ms, std::string& error);
  bool WriteSound(const uint8_t* pcm, size_t size, int64_t ms, std::string& error);
  // Writes what is buffered and closes the file. After a failed write it only closes.
  void Close();
  bool isOpen() const;

 private:
  struct Impl;
  std::function<void()> beforeWrite_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orrin
