#include "net/websocket/cast_message.h"

#include <algorithm>

#include "support/log.h"
#include "support/log_thinning.h"

namespace orrin {

namespace {
constexpr size_t HEX_DUMP_BYTES = 20;

}  // namespace

LogThinner& CastMessageNotes::ProgressOf(uint8_t type) {
  if (type == static_cast<uint8_t>(CastMessageType::Video)) return videoProgress;
  if (type == static_cast<uint8_t>(CastMessageType::Audio)) return audioProgress;
  return otherProgress;
}

uint32_t CastTimestamp(const ByteBuffer& message) {
  return (static_cast<uint32_t>(message[1]) << 24) | (static_cast<uint32_t>(message[2]) << 16) |
         (static_cast<uint32_t>(message[3]) << 8) | static_cast<uint32_t>(message[4]);
}

std::string CastHexDump(const ByteBuffer& message) {
  static const char digits[] = "0123456789ABCDEF";
  std::string dump;
  size_t count = std::min(message.size(), HEX_DUMP_BYTES);
  for (size_t i = 0; i < count; ++i) {
    dump.push_back(digits[message[i] >> 4]);
    dump.push_back(digits[message[i] & 0x0F]);
    dump.push_back(' ');
  }
  return dump;
}

void DispatchCastMessage(CastMessageNotes& notes, const ByteBuffer& message, const FrameCallback& videoCallback,
                         const FrameCallback& audioCallback) {
  size_t size = message.size();
  if (size < CAST_HEADER_SIZE) {
    LogErrorThinned(notes.tooSmall, "Frame data too small: " + std::to_string(size) + " bytes");
    return;
  }
  uint8_t type = message[0];
  size_t dataSize = size - CAST_HEADER_SIZE;
  LogMessageProgress(notes.ProgressOf(type), "Processing frame: type=" + std::to_string(type) + ", timestamp=" +
                                           std::to_string(CastTimestamp(message)) +
                                           ", data_size=" + std::to_string(dataSize));
  auto content = [&message] { return ByteBuffer(message.begin() + CAST_HEADER_SIZE, message.end()); };
  switch (type) {
    case static_cast<uint8_t>(CastMessageType::Video):
      if (dataSize > 0 && videoCallback) {
        ByteBuffer videoData = content();
        LogMessageProgress(notes.videoCallbackProgress,
                           "Calling video frame callback with " + std::to_string(videoData.size()) + " bytes");
        videoCallback(videoData);
      }
      break;
    case static_cast<uint8_t>(CastMessageType::Audio):
      if (dataSize > 0 && audioCallback) {
        ByteBuffer audioData = content();
        audioCallback(audioData);
      } else {
        LogInfoThinned(notes.unplayedAudio, "收到音频帧，大小: " + std::to_string(dataSize));
      }
      break;
    case static_cast<uint8_t>(CastMessageType::Config):
      LogInfoThinned(notes.configMessages, "收到配置帧，大小: " + std::to_string(dataSize));
      break;
    case static_cast<uint8_t>(CastMessageType::Status):
      LogInfoThinned(notes.statusMessages, "收到状态帧，大小: " + std::to_string(dataSize));
      break;
    default:
      // The dump belongs to its error line: both are written or neither.
      if (uint64_t count = notes.unknownTypes.Note()) {
        LogError(ThinnedLine("收到未知类型帧: " + std::to_string(type) + ", 数据大小: " + std::to_string(size), count));
        LogInfo("数据前" + std::to_string(std::min(size, HEX_DUMP_BYTES)) + "字节: " + CastHexDump(message));
      }
      break;
  }
}

}  // namespace orrin
