#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "share/viewer_queue.h"
#include "support/bytes.h"

namespace orrin {

struct SharedPicture {
  std::shared_ptr<const ByteBuffer> jpeg;  // as the sender sent it
  int64_t receivedNs = 0;
};
using SharedSound = std::shared_ptr<const ByteBuffer>;  // PCM as the sender sent it

// The sender whose cast is shared, as the hub last heard of it.
struct SharedSender {
  bool connected = false;
  std::string address;  // "a.b.c.d:port"
  int width = 0;        // of the newest picture; 0 before the first
  int height = 0;
};

// Hands the cast on to the viewers of the shared view: the newest picture for snapshots,
// and to every viewer of the live streams a small queue of its own. The cast's thread calls
// SenderChanged, Picture and Sound; they take one short lock and never wait for a viewer.
// Viewers' threads take a Seat, pop from its queue and give the seat back by destroying it.
class ShareHub {
 public:
  static constexpr size_t MAX_VIEWERS = 8;  // of the pictures, and again of the sound
  static constexpr size_t PICTURES_PER_VIEWER = 2;
  static constexpr size_t SOUND_FRAMES_PER_LISTENER = 50;  // a second or two of sound

  explicit ShareHub(size_t maxViewers = MAX_VIEWERS);
  ShareHub(const ShareHub&) = delete;
  ShareHub& operator=(const ShareHub&) = delete;

  // `address` is the sender's "a.b.c.d:port"; an end names the sender that ended.
  void SenderChanged(bool connected, const std::string& address);
  void Picture(std::shared_ptr<const ByteBuffer> jpeg, int64_t receivedNs);
  void Sound(const ByteBuffer& pcm);

  template <typename T>
  class Seat {
   public:
    Seat() = default;
    Seat(ShareHub* hub, std::shared_ptr<ViewerQueue<T>> queue) : hub_(hub), queue_(std::move(queue)) {}
    Seat(Seat&& other) noexcept : hub_(other.hub_), queue_(std::move(other.queue_)) { other.hub_ = nullptr; }
    Seat& operator=(Seat&&) = delete;
    Seat(const Seat&) = delete;
    ~Seat() {
      if (hub_ != nullptr && queue_) hub_->Leave(queue_.get());
    }
    explicit operator bool() const { return queue_ != nullptr; }
    ViewerQueue<T>& queue() { return *queue_; }

   private:
    ShareHub* hub_ = nullptr;
    std::shared_ptr<ViewerQueue<T>> queue_;
  };

  // An empty seat when all are taken or the hub is closed. A picture viewer's queue starts
  // with the newest picture, so it sees the cast at once.
  Seat<SharedPicture> WatchPictures();
  Seat<SharedSound> ListenToSound();

  SharedPicture NewestPicture() const;
  SharedSender Sender() const;
  size_t PictureViewers() const;
  size_t SoundListeners() const;

  // Wakes every viewer and takes no new ones (the server is stopping).
  void Close();

 private:
  template <typename T>
  Seat<T> Join(std::vector<std::shared_ptr<ViewerQueue<T>>>& seats, size_t capacity, const T* first);
  void Leave(const void* queue);

  const size_t maxViewers_;
  mutable std::mutex mutex_;
  bool closed_ = false;
  SharedSender sender_;
  SharedPicture newest_;
  std::vector<std::shared_ptr<ViewerQueue<SharedPicture>>> pictureViewers_;
  std::vector<std::shared_ptr<ViewerQueue<SharedSound>>> soundListeners_;
};

}  // namespace orrin
