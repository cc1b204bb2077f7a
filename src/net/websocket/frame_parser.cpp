#include "net/websocket/frame_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace orrin {

namespace {

constexpr uint8_t OPCODE_CONTINUATION = 0x0;
constexpr uint8_t OPCODE_TEXT = 0x1;
constexpr uint8_t OPCODE_BINARY = 0x2;
constexpr uint8_t OPCODE_CLOSE = 0x8;
constexpr uint8_t OPCODE_PING = 0x9;
// Dropped payloads are read through a small buffer instead of one of their full size.
constexpr size_t SCRATCH_SIZE = 64 * 1024;

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

}  // namespace

void UnmaskInPlace(uint8_t* data, size_t size, const std::array<uint8_t, 4>& key) {
  size_t i = 0;
  // Bytes up to an 8-byte boundary one at a time; the word loop then keeps the key's phase,
  // since it advances by a multiple of four.
  while (i < size && reinterpret_cast<uintptr_t>(data + i) % sizeof(uint64_t) != 0) {
    data[i] ^= key[i % 4];
    ++i;
  }
  uint8_t pattern[sizeof(uint64_t)];
  for (size_t k = 0; k < sizeof pattern; ++k) pattern[k] = key[(i + k) % 4];
  uint64_t word;
  std::memcpy(&word, pattern, sizeof word);
  for (; i + sizeof(uint64_t) <= size; i += sizeof(uint64_t)) {
    uint64_t value;
    std::memcpy(&value, data + i, sizeof value);
    value ^= word;
    std::memcpy(data + i, &value, sizeof value);
  }
  for (; i < size; ++i) data[i] ^= key[i % 4];
}

FrameParser::FrameParser() = default;

std::span<uint8_t> FrameParser::Space() {
  if (failed_) return {};
  switch (step_) {
    case FrameStep::Header:
      return std::span<uint8_t>(header_).subspan(have_);
    case FrameStep::ExtendedLength:
      return std::span<uint8_t>(extLen_.data() + have_, extNeed_ - have_);
    case FrameStep::MaskKey:
      return std::span<uint8_t>(maskKey_).subspan(have_);
    case FrameStep::Payload:
      break;
  }
  size_t left = static_cast<size_t>(length_ - received_);
  switch (sink_) {
    case Sink::Message:
      return {message_.data() + frameStart_ + received_, left};
    case Sink::Control:
      return {control_.data() + received_, left};
    case Sink::Discard:
      break;
  }
  if (scratch_.empty()) scratch_.resize(SCRATCH_SIZE);
  return {scratch_.data(), std::min(left, scratch_.size())};
}

FrameEvent FrameParser::Advance(size_t count) {
  if (failed_ || count == 0) return {};
  switch (step_) {
    case FrameStep::Header:
      have_ += count;
      return have_ < header_.size() ? FrameEvent{} : HeaderDone();
    case FrameStep::ExtendedLength:
      have_ += count;
      if (have_ < extNeed_) return {};
      length_ = 0;
      for (size_t k = 0; k < extNeed_; ++k) length_ = (length_ << 8) | extLen_[k];
      return LengthKnown();
    case FrameStep::MaskKey:
      have_ += count;
      return have_ < maskKey_.size() ? FrameEvent{} : StartPayload();
    case FrameStep::Payload:
      received_ += count;
      return received_ < length_ ? FrameEvent{} : FinishFrame();
  }
  return {};
}

FrameEvent FrameParser::HeaderDone() {
  // FIN and the opcode in byte 0 (the reserved bits are ignored); MASK and the 7-bit length
  // in byte 1.
  fin_ = (header_[0] & 0x80) != 0;
  opcode_ = header_[0] & 0x0F;
  masked_ = (header_[1] & 0x80) != 0;
  uint8_t shortLength = header_[1] & 0x7F;
  have_ = 0;
  if (shortLength == 126 || shortLength == 127) {
    extNeed_ = shortLength == 126 ? 2 : 8;
    step_ = FrameStep::ExtendedLength;
    return {};
  }
  length_ = shortLength;
  return LengthKnown();
}

void FrameParser::AbandonMessage() {
  if (!messageActive_) return;
  abandoned_ = SaturatingAdd(abandoned_, message_.size());
  message_ = ByteBuffer();
  messageActive_ = false;
}

FrameEvent FrameParser::LengthKnown() {
  uint64_t limit = MAX_FRAME_PAYLOAD;
  uint64_t before = 0;  // bytes of the message that precede this frame
  switch (opcode_) {
    case OPCODE_BINARY:
      AbandonMessage();
      textActive_ = false;
      sink_ = Sink::Message;
      break;
    case OPCODE_CONTINUATION:
      if (messageActive_) {
        before = message_.size();
        limit = MAX_FRAME_PAYLOAD - before;
        sink_ = Sink::Message;
      } else {
        sink_ = Sink::Discard;  // a text message's continuation, or one that continues nothing
        if (fin_) textActive_ = false;
      }
      break;
    case OPCODE_TEXT:
      AbandonMessage();
      textActive_ = !fin_;
      sink_ = Sink::Discard;
      break;
    case OPCODE_CLOSE:
    case OPCODE_PING:
      sink_ = Sink::Control;
      break;
    default:
      sink_ = Sink::Discard;
      break;
  }
  if (length_ > limit) {
    failed_ = true;
    FrameEvent event;
    event.kind = FrameEventKind::TooLarge;
    event.opcode = opcode_;
    event.size = SaturatingAdd(before, length_);
    event.abandonedBytes = std::exchange(abandoned_, 0);
    return event;
  }
  have_ = 0;
  if (masked_) {
    step_ = FrameStep::MaskKey;
    return {};
  }
  maskKey_ = {0, 0, 0, 0};
  return StartPayload();
}

FrameEvent FrameParser::StartPayload() {
  // The length has passed the limit, so these allocations are bounded.
  size_t length = static_cast<size_t>(length_);
  if (sink_ == Sink::Message) {
    frameStart_ = message_.size();
    message_.resize(frameStart_ + length);
  } else if (sink_ == Sink::Control) {
    control_.assign(length, 0);
  }
  received_ = 0;
  step_ = FrameStep::Payload;
  if (length_ == 0) return FinishFrame();
  FrameEvent event;
  event.abandonedBytes = std::exchange(abandoned_, 0);
  return event;
}

FrameEvent FrameParser::FinishFrame() {
  FrameEvent event;
  event.opcode = opcode_;
  event.abandonedBytes = std::exchange(abandoned_, 0);
  step_ = FrameStep::Header;
  have_ = 0;
  switch (sink_) {
    case Sink::Message:
      if (masked_) UnmaskInPlace(message_.data() + frameStart_, message_.size() - frameStart_, maskKey_);
      if (fin_) {
        event.kind = FrameEventKind::Message;
        event.payload = std::move(message_);
        message_ = ByteBuffer();
        messageActive_ = false;
      } else {
        messageActive_ = true;
      }
      return event;
    case Sink::Control:
      if (masked_) UnmaskInPlace(control_.data(), control_.size(), maskKey_);
      event.kind = opcode_ == OPCODE_PING ? FrameEventKind::Ping : FrameEventKind::Close;
      event.payload = std::move(control_);
      control_ = ByteBuffer();
      return event;
    case Sink::Discard:
      event.kind = FrameEventKind::Ignored;
      return event;
  }
  return event;
}

size_t FrameParser::Feed(const uint8_t* data, size_t size, const std::function<void(FrameEvent&)>& onEvent) {
  size_t used = 0;
  while (!failed_) {
    std::span<uint8_t> space = Space();
    size_t count = std::min(space.size(), size - used);
    if (count == 0) break;
    std::memcpy(space.data(), data + used, count);
    used += count;
    FrameEvent event = Advance(count);
    if (event.kind != FrameEventKind::NeedMore || event.abandonedBytes != 0) onEvent(event);
  }
  return used;
}

}  // namespace orrin
