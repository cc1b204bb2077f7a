#include "media/cast_tap.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace orrin {
namespace {

std::mutex tapMutex;
std::shared_ptr<const CastTapListener> tapListener;
// Checked first, so a cast nobody records pays one relaxed load per frame.
std::atomic<bool> tapInstalled{false};

std::mutex senderMutex;
std::string senderAddress;

std::shared_ptr<const CastTapListener> Listener() {
  if (!tapInstalled.load(std::memory_order_relaxed)) return nullptr;
  std::lock_guard<std::mutex> lock(tapMutex);
  return tapListener;
}

}  // namespace

void SetCastTapListener(std::shared_ptr<const CastTapListener> listener) {
  std::lock_guard<std::mutex> lock(tapMutex);
  tapInstalled = listener != nullptr;
  tapListener = std::move(listener);
}

void TapConnection(bool connected, const std::string& clientInfo) {
  {
    std::lock_guard<std::mutex> lock(senderMutex);
    senderAddress = connected ? clientInfo : std::string();
  }
  if (auto listener = Listener(); listener && listener->connection) listener->connection(connected, clientInfo);
}

void TapPicture(const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
  if (auto listener = Listener(); listener && listener->picture) listener->picture(jpeg, receivedNs);
}

void TapSound(const ByteBuffer& pcm, int64_t receivedNs) {
  if (auto listener = Listener(); listener && listener->sound) listener->sound(pcm, receivedNs);
}

std::string CurrentSenderAddress() {
  std::lock_guard<std::mutex> lock(senderMutex);
  return senderAddress;
}

}  // namespace orrin
