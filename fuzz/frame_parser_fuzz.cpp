// Feeds arbitrary bytes to the frame parser twice, once whole and once cut into pieces of
// input-chosen sizes, and checks that both readings give the same events: where the bytes
// are cut (how a socket happens to deliver them) must never change what is parsed. Both
// readings share the word-wise unmasking, so that is checked on its own against the
// byte-wise rule, at every start alignment.
#include <cstdint>
#include <array>
#include <cstdlib>
#include <vector>

#include "net/websocket/frame_parser.h"

namespace {

struct Seen {
  orrin::FrameEventKind kind;
  uint8_t opcode;
  orrin::ByteBuffer payload;
  uint64_t size;
  uint64_t abandoned;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> Parse(const uint8_t* data, size_t size, const uint8_t* cuts, size_t cutCount) {
  orrin::FrameParser parser;
  std::vector<Seen> seen;
  auto record = [&seen](orrin::FrameEvent& event) {
    if (event.payload.size() > orrin::MAX_FRAME_PAYLOAD) std::abort();
    seen.push_back({event.kind, event.opcode, std::move(event.payload), event.size, event.abandonedBytes});
  };
  size_t at = 0;
  size_t cut = 0;
  while (at < size) {
    size_t piece = size - at;
    if (cutCount > 0) piece = std::min<size_t>(piece, 1 + cuts[cut++ % cutCount] % 17);
    size_t used = parser.Feed(data + at, piece, record);
    at += used;
    if (used < piece) {
      if (!parser.Failed()) std::abort();  // only a failed parser may refuse bytes
      break;
    }
  }
  return seen;
}

void CheckUnmask(const uint8_t* data, size_t size, size_t alignment) {
  if (size < 4) return;
  const std::array<uint8_t, 4> key{data[0], data[1], data[2], data[3]};
  const size_t count = size - 4;
  std::vector<uint8_t> buffer(alignment + count);
  std::copy(data + 4, data + size, buffer.begin() + static_cast<std::ptrdiff_t>(alignment));
  orrin::UnmaskInPlace(buffer.data() + alignment, count, key);
  for (size_t i = 0; i < count; ++i) {
    if (buffer[alignment + i] != (data[4 + i] ^ key[i % 4])) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses how many of the next bytes describe the cuts.
  if (size < 1) return 0;
  size_t cutCount = std::min<size_t>(data[0] % 8, size - 1);
  const uint8_t* cuts = data + 1;
  const uint8_t* stream = data + 1 + cutCount;
  size_t streamSize = size - 1 - cutCount;
  std::vector<Seen> whole = Parse(stream, streamSize, nullptr, 0);
  std::vector<Seen> pieces = Parse(stream, streamSize, cuts, cutCount);
  if (!(whole == pieces)) std::abort();
  CheckUnmask(stream, streamSize, data[0] >> 5);
  return 0;
}
