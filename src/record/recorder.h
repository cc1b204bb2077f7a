#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/cast_session.h"
#include "support/bytes.h"

namespace orrin {

// Records the cast into Matroska files, one per sender connection (several senders casting
// at once are written side by side, a file each): the pictures the receiver accepts as their
// JPEG bytes and the sound as sent, stamped with the time they arrived. The cast callbacks
// hand everything over through a bounded queue and never wait: a thread of the recorder's
// own does the writing. When the disk falls behind, pictures are dropped (and counted in the
// log) before any sound is; a failed write ends the recording with one error line while the
// cast goes on.
class Recorder {
 public:
  // Who the media come from: any value that stays the same for one connection and differs
  // between connections at the same time (a session's address).
  using SenderKey = const void*;

  struct Options {
    size_t pictureBudgetBytes = 48u << 20;  // pictures waiting for the disk, at most
    size_t soundBudgetBytes = 60 * 32000;   // a minute of sound waiting, at most
    std::function<void()> beforeWrite;      // runs before each disk write (tests: a slow disk)
  };

  Recorder();
  explicit Recorder(Options options);
  ~Recorder();  // ends the files being written (what is queued is still written) and joins
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Records every sender from now on into `path`; the second and later files of the run get
  // "-2", "-3" before the extension.
  void StartToFile(const std::string& path);
  // Records every sender from now on into `folder`, each file named by the date and time.
  void StartInFolder(const std::string& folder);
  // Ends the files being written and records no further sender.
  void Stop();
  bool armed() const;

  // The cast's events: each takes a short lock and returns (any thread).
  void OnConnection(SenderKey sender, bool connected);
  void OnPicture(SenderKey sender, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs);
  void OnSound(SenderKey sender, const ByteBuffer& pcm, int64_t receivedNs);
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
  // The file begun last (of any sender), or that sender's file while it has one.
  Status status() const;
  Status status(SenderKey sender) const;

 private:
  struct Item {
    enum Kind { OPEN, PICTURE, SOUND, CLOSE } kind = PICTURE;
    uint64_t file = 0;  // which file, numbered from 1 in the order they were begun
    std::shared_ptr<const ByteBuffer> picture;
    ByteBuffer sound;
    int64_t ns = 0;
    std::string path;    // OPEN: the file, or empty for a dated name in `folder`
    std::string folder;
    uint64_t dropped = 0;  // CLOSE: pictures the file lost to a slow disk
  };
  // A connected sender, and its file while one is meant to be open.
  struct Sender {
    uint64_t file = 0;
    uint64_t droppedPictures = 0;
    uint64_t droppedSound = 0;
  };
  class Writer;
  class Writers;

  void ArmLocked(std::string path, std::string folder);
  void OpenLocked(Sender& sender);
  void CloseLocked(Sender& sender);
  void CloseAllLocked();
  Status StatusLocked(uint64_t file) const;
  void Update(uint64_t file, const std::function<void(Status&)>& change);
  void Push(Item item);
  void Run();

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  size_t queuedPictureBytes_ = 0;
  size_t queuedSoundBytes_ = 0;
  bool armed_ = false;
  std::map<SenderKey, Sender> senders_;
  uint64_t lastFile_ = 0;
  std::string fixedPath_;
  std::string folder_;
  int filesOfFixedPath_ = 0;
  // The status of the files begun and not yet ended, and of the last one begun.
  std::map<uint64_t, Status> files_;
  std::string lastFailure_;  // why the recording last ended early, until it is started again
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace orrin
