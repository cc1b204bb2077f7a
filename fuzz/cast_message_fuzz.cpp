// Hands arbitrary binary messages to the cast payload dispatcher with callbacks that read
// every byte they are given, and checks the hand-off: only video (type 0) and audio
// (type 1) messages with content reach a callback, exactly once, with exactly the bytes
// after the 5-byte header; an exception thrown by a callback comes back out unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "net/websocket/cast_message.h"

namespace {

struct Call {
  int count = 0;
  size_t size = 0;
  uint64_t sum = 0;
};

// Reads the whole buffer, so ASan sees any byte of it that is not really there.
uint64_t Touch(const orrin::ByteBuffer& data) {
  uint64_t sum = 0;
  for (uint8_t byte : data) sum = sum * 31 + byte;
  return sum;
}

struct CallbackThrew : std::runtime_error {
  CallbackThrew() : std::runtime_error("callback threw") {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orrin::ByteBuffer message(data, data + size);
  // The log thinners run on from input to input, as they do over a sender's messages.
  static orrin::CastMessageNotes notes;
  // A throwing callback is chosen by the message itself, so both paths are explored
  // without a control byte that would shift the layout the dispatcher reads.
  const bool throwFromCallback = size >= orrin::CAST_HEADER_SIZE && (data[4] & 0x80) != 0;
  Call video, audio;
  auto record = [throwFromCallback](Call& call) {
    return [&call, throwFromCallback](const orrin::ByteBuffer& content) {
      ++call.count;
      call.size = content.size();
      call.sum = Touch(content);
      if (throwFromCallback) throw CallbackThrew();
    };
  };
  bool threw = false;
  try {
    orrin::DispatchCastMessage(notes, message, record(video), record(audio));
  } catch (const CallbackThrew&) {
    threw = true;
  }

  const bool hasContent = size > orrin::CAST_HEADER_SIZE;
  const bool isVideo = hasContent && data[0] == 0;
  const bool isAudio = hasContent && data[0] == 1;
  if (video.count != (isVideo ? 1 : 0) || audio.count != (isAudio ? 1 : 0)) std::abort();
  if (threw != (throwFromCallback && (isVideo || isAudio))) std::abort();
  const Call& called = isVideo ? video : audio;
  if (isVideo || isAudio) {
    orrin::ByteBuffer expected(data + orrin::CAST_HEADER_SIZE, data + size);
    if (called.size != expected.size() || called.sum != Touch(expected)) std::abort();
  }

  // Empty callbacks are skipped, never called.
  orrin::DispatchCastMessage(notes, message, nullptr, nullptr);

  if (size >= orrin::CAST_HEADER_SIZE) {
    uint32_t stamp = orrin::CastTimestamp(message);
    uint32_t expectedStamp = (uint32_t{data[1]} << 24) | (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 8) | data[4];
    if (stamp != expectedStamp) std::abort();
  }
  std::string dump = orrin::CastHexDump(message);
  if (dump.size() != 3 * std::min<size_t>(size, 20)) std::abort();
  return 0;
}
