#include "share/share_hub.h"

#include <algorithm>

#include "record/jpeg_size.h"

namespace orrin {

ShareHub::ShareHub(size_t maxViewers) : maxViewers_(maxViewers) {}

void ShareHub::SenderChanged(bool connected, const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A replaced sender's end may be told after its successor's start: it changes nothing.
  if (!connected && sender_.connected && sender_.address != address) return;
  sender_ = SharedSender{};
  sender_.connected = connected;
  if (connected) sender_.address = address;
  // A sender's last picture must not be offered as the next one's.
  newest_ = SharedPicture{};
}

void ShareHub::Picture(std::shared_ptr<const ByteBuffer> jpeg, int64_t receivedNs) {
  if (!jpeg) return;
  int width = 0, height = 0;
  JpegFrameSize(jpeg->data(), jpeg->size(), width, height);
  const SharedPicture picture{std::move(jpeg), receivedNs};
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  newest_ = picture;
  sender_.width = width;
  sender_.height = height;
  for (auto& viewer : pictureViewers_) viewer->Push(picture);
}

void ShareHub::Sound(const ByteBuffer& pcm) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || soundListeners_.empty() || pcm.empty()) return;
  // One copy for all listeners, and none while nobody listens.
  const SharedSound sound = std::make_shared<const ByteBuffer>(pcm);
  for (auto& listener : soundListeners_) listener->Push(sound);
}

template <typename T>
ShareHub::Seat<T> ShareHub::Join(std::vector<std::shared_ptr<ViewerQueue<T>>>& seats, size_t capacity,
                                 const T* first) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || seats.size() >= maxViewers_) return {};
  auto queue = std::make_shared<ViewerQueue<T>>(capacity);
  if (first != nullptr) queue->Push(*first);
  seats.push_back(queue);
  return Seat<T>(this, std::move(queue));
}

ShareHub::Seat<SharedPicture> ShareHub::WatchPictures() {
  SharedPicture newest = NewestPicture();
  return Join(pictureViewers_, PICTURES_PER_VIEWER, newest.jpeg ? &newest : nullptr);
}

ShareHub::Seat<SharedSound> ShareHub::ListenToSound() {
  return Join<SharedSound>(soundListeners_, SOUND_FRAMES_PER_LISTENER, nullptr);
}

void ShareHub::Leave(const void* queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto gone = [queue](const auto& seat) { return seat.get() == queue; };
  std::erase_if(pictureViewers_, gone);
  std::erase_if(soundListeners_, gone);
}

SharedPicture ShareHub::NewestPicture() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return newest_;
}

SharedSender ShareHub::Sender() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sender_;
}

size_t ShareHub::PictureViewers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pictureViewers_.size();
}

size_t ShareHub::SoundListeners() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return soundListeners_.size();
}

void ShareHub::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (auto& viewer : pictureViewers_) viewer->Close();
  for (auto& listener : soundListeners_) listener->Close();
}

}  // namespace orrin
