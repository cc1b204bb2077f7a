#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/cast_session.h"
#include "support/bytes.h"

namespace orrin {

// Records the cast into Matroska files, one per sender connection: the pictures the
// receiver accepts as their JPEG bytes and the sound as sent, stamped with the time they
// arrived. The cast callbacks hand everything over through a bounded queue and never wait:
// a thread of the recorder's own does the writing. When the disk falls behind, pictures for
// the file are dropped (and counted in the log) before any sound is; a failed write ends the
// recording with one error line while the cast goes on.
class Recorder {
 public:
  struct Options {
    size_t pictureBudgetBytes = 48u << 20;  // pictures waiting for the disk, at most
    size_t soundBudgetBytes = 60 * 32000;   // a minute of sound waiting, at most
    std::function<void()> beforeWrite;      // runs before each disk write (tests: a slow disk)
  };

  Recorder();
  explicit Recorder(Options options);
  ~Recorder();  // ends the file being written (what is queued is still written) and joins
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Records every sender from now on into `path`; the second and later connections of the
  // run get "-2", "-3" before the extension.
  void StartToFile(const std::string& path);
  // Records every sender from now on into `folder`, each file named by the date and time.
  void StartInFolder(const std::string& folder);
  // Ends the file being written and records no further sender.
  void Stop();
  bool armed() const;

  // The cast's events: each takes a short lock and returns (any thread).
  void OnConnection(bool connected);
  void OnPicture(const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs);
  void OnSound(const ByteBuffer& pcm, int64_t receivedNs);
  // These three as a session's sink. The recorder must outlive every session given it.
  CastSink Sink();

  struct Status {
    bool armed = false;
    bool writing = false;      // a file is being written
    std::string path;          // the file being written, or the last one
    uint64_t pictures = 0;     // written into that file
    uint64_t dropped = 0;      // pictures the disk could not keep up with, that file
    double soundSeconds = 0;   // sound written into that file
    double seconds = 0;        // time the file spans so far
    std::string failure;       // why the last recording ended early (empty: it did not)
  };
  Status status() const;

 private:
  struct Item {
    enum Kind { OPEN, PICTURE, SOUND, CLOSE } kind = PICTURE;
    std::shared_ptr<const ByteBuffer> picture;
    ByteBuffer sound;
    int64_t ns = 0;
    std::string path;    // OPEN: the file, or empty for a dated name in `folder`
    std::string folder;
    uint64_t dropped = 0;  // CLOSE: pictures the file lost to a slow disk
  };
  class Writer;

  void ArmLocked(std::string path, std::string folder);
  void OpenLocked();
  void CloseLocked();
  void Update(const std::function<void(Status&)>& change);
  void Run();

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  size_t queuedPictureBytes_ = 0;
  size_t queuedSoundBytes_ = 0;
  bool armed_ = false;
  bool connected_ = false;
  bool fileOpen_ = false;  // media go into the queue only while a file is meant to be open
  std::string fixedPath_;
  std::string folder_;
  int filesOfFixedPath_ = 0;
  uint64_t droppedPictures_ = 0;  // of the file being written
  uint64_t droppedSound_ = 0;
  Status status_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace orrin
