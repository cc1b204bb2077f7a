// The reading half of the WebSocket server: a sender's frames after its handshake, the pings
// that tell a quiet sender from a gone one, and the replies the protocol asks for.
#include <algorithm>
#include <span>

#include "net/accept_loop.h"
#include "net/websocket/cast_message.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/websocket_server.h"
#include "support/log.h"
#include "support/tick.h"

namespace orrin {

namespace {

constexpr int ADMISSION_POLL_MS = 100;

}  // namespace

bool WebSocketServer::ReceiveFrame(Connection& connection) {
  const SocketHandle socket = connection.clientSocket.Fd();
  FrameParser& frameParser = connection.frameParser;
  for (;;) {
    const SenderWait wait = WaitForSender(connection);
    if (wait == SenderWait::Gone) return false;
    if (wait == SenderWait::Decided) return true;  // the parser keeps a frame begun
    long result = -1;
    int code = SOCKET_TIMEOUT_ERROR;
    if (wait == SenderWait::Readable) {
      std::span<uint8_t> space = frameParser.Space();
      result = ReceiveOnce(socket, space.data(), space.size());
      code = result < 0 ? LastSocketError() : 0;
    }
    if (result > 0) {
      FrameEvent event = frameParser.Advance(static_cast<size_t>(result));
      // A pong only says the sender is there; anything else is the sender doing something.
      if (event.kind == FrameEventKind::Ignored && event.opcode == WS_OPCODE_PONG) {
        connection.liveness.Heard(Tick());
      } else {
        connection.liveness.Spoke(Tick());
      }
      if (event.abandonedBytes != 0) {
        LogErrorThinned(abandonedMessages,
                        "Incomplete fragmented message dropped: " + std::to_string(event.abandonedBytes) + " bytes");
      }
      switch (event.kind) {
        case FrameEventKind::NeedMore:
          continue;
        case FrameEventKind::Message:
          DispatchMessage(connection, event.payload);
          return true;
        case FrameEventKind::Ping:
          SendPong(socket, event.payload);
          return true;
        case FrameEventKind::Close:
          LogInfo("收到关闭帧");
          SendCloseReply(socket, event.payload);
          return false;
        case FrameEventKind::Ignored:
          return true;
        case FrameEventKind::TooLarge:
          LogErrorThinned(oversizedFrames, "Frame too large: " + std::to_string(event.size));
          return false;
      }
      return true;
    }
    if (result < 0 && IsInterruptedError(code)) continue;
    // TCP gave up on a sender that stopped acknowledging.
    if (result < 0 && IsPeerGoneError(code)) {
      LogInfo("Sender gone, connection closed: its link stopped acknowledging, error: " + Code(code));
      return false;
    }
    // Said readable, then nothing came in time (Wine's poll does this): the wait goes on,
    // and the pings decide whether the sender is still there.
    if (result < 0 && wait == SenderWait::Readable && IsTimeoutError(code)) continue;
    // The quiet time-out: the parser keeps the part of the frame it has, and the next call
    // goes on with the same frame.
    const bool timedOut = wait == SenderWait::Quiet;
    switch (frameParser.Step()) {
      case FrameStep::Header:
        if (timedOut) {
          LogInfo("WebSocket接收超时，可能设备息屏，继续等待...");
          return true;
        }
        // Many senders end a cast by closing TCP without a close frame: an ordinary end.
        if (result == 0) {
          LogInfo("Sender closed the connection");
        } else {
          LogError("Failed to receive frame header, error: " + Code(code));
        }
        return false;
      case FrameStep::ExtendedLength:
        if (timedOut) LogInfo("WebSocket扩展长度接收超时，继续等待...");
        return timedOut;
      case FrameStep::MaskKey:
        if (timedOut) LogInfo("WebSocket掩码接收超时，继续等待...");
        return timedOut;
      case FrameStep::Payload:
        if (timedOut) LogInfo("WebSocket负载数据接收超时，继续等待...");
        return timedOut;
    }
    return false;
  }
}

WebSocketServer::SenderWait WebSocketServer::WaitForSender(Connection& connection) {
  const SocketHandle socket = connection.clientSocket.Fd();
  SenderLiveness& liveness = connection.liveness;
  for (;;) {
    if (connection.awaiting != nullptr && connection.awaiting->decision() != AdmissionTicket::Decision::Pending) {
      return SenderWait::Decided;
    }
    const uint32_t now = Tick();
    switch (liveness.Next(now)) {
      case SenderLiveness::Due::LetGo:
        LogInfo("Sender gone, connection closed: nothing heard from it for " +
                std::to_string(liveness.SilentFor(now) / 1000) + " s, pings unanswered");
        return SenderWait::Gone;
      case SenderLiveness::Due::QuietLine:
        return SenderWait::Quiet;
      case SenderLiveness::Due::Ping: {
        // A phone whose screen is off still answers; one that is gone does not.
        static constexpr uint8_t PAYLOAD[] = {'o', 'r', 'r', 'i', 'n'};
        ByteBuffer ping = EncodeFrame(WS_OPCODE_PING, true, PAYLOAD, sizeof PAYLOAD);
        SendOnce(socket, ping.data(), ping.size());
        continue;
      }
      case SenderLiveness::Due::Nothing:
        break;
    }
    // Readable, closed or failed: the receive tells which.
    // A sender waiting to be let in looks at its ticket a few times a second.
    int waitMs = static_cast<int>(liveness.WaitMs(now));
    if (connection.awaiting != nullptr) waitMs = std::min(waitMs, ADMISSION_POLL_MS);
    if (WaitReadable(socket, waitMs) != 0) return SenderWait::Readable;
  }
}

void WebSocketServer::StartLiveness(Connection& connection) {
  SenderLiveness::Settings settings = livenessSettings;
  settings.quietLineMs = static_cast<uint32_t>(receiveTimeoutMs.load());
  connection.liveness = SenderLiveness(settings, Tick());
  // TCP's own bound for the same case: pings that are never acknowledged end the connection
  // by the time we would give up on the sender ourselves.
  LimitVanishedPeer(connection.clientSocket.Fd(), static_cast<int>(settings.pingAfterMs),
                    static_cast<int>(settings.pingEveryMs), static_cast<int>(settings.giveUpMs));
}

void WebSocketServer::DispatchMessage(Connection& connection, const ByteBuffer& message) {
  const StampedFrameCallback& video = connection.hooks.video;
  if (!video) {
    DispatchCastMessage(messageNotes, message, nullptr, connection.hooks.audio);
    return;
  }
  // Pictures go on with the sender's time stamp of their message.
  const uint32_t stamp = message.size() >= CAST_HEADER_SIZE ? CastTimestamp(message) : 0;
  DispatchCastMessage(
      messageNotes, message,
      [&video, &connection, stamp](const ByteBuffer& picture) {
        connection.lastPictureTick = Tick();
        video(picture, stamp);
      },
      connection.hooks.audio);
}

void WebSocketServer::SendCloseReply(SocketHandle socket, const ByteBuffer& received) {
  // The endpoint that receives the first close frame answers it before closing (RFC 6455,
  // 5.5.1); without it a sender that ended its cast properly sees an abnormal closure.
  ByteBuffer closeFrame = EncodeFrame(WS_OPCODE_CLOSE, true, CloseReplyPayload(received));
  SendOnce(socket, closeFrame.data(), closeFrame.size());
}

bool WebSocketServer::SendPong(SocketHandle socket, const ByteBuffer& payload) {
  ByteBuffer pongFrame = EncodeFrame(WS_OPCODE_PONG, true, payload);
  return SendOnce(socket, pongFrame.data(), pongFrame.size()) == static_cast<long>(pongFrame.size());
}

}  // namespace orrin
