// The places of the WebSocketServer: who is let in, who casts, who makes room.
#include <algorithm>
#include <exception>

#include "net/accept_loop.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/websocket_server.h"
#include "support/log.h"
#include "support/tick.h"

namespace orrin {

namespace {

constexpr uint16_t CLOSE_TRY_AGAIN_LATER = 1013;
constexpr uint16_t CLOSE_POLICY_VIOLATION = 1008;

}  // namespace

bool WebSocketServer::ReadFrames(Connection& connection, const std::function<bool()>& goOn) {
  try {
    while (goOn()) {
      if (!ReceiveFrame(connection)) return false;
    }
    return true;
  } catch (const std::exception& e) {
    LogError(std::string("Exception in ProcessWebSocketFrame: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in ProcessWebSocketFrame");
  }
  return false;
}

bool WebSocketServer::AwaitAdmission(Connection& connection) {
  if (!admission) return true;
  std::shared_ptr<AdmissionTicket> ticket = admission(connection.clientInfo, connection.source);
  if (ticket == nullptr) return true;
  // Read while it waits: the newest picture is there for whoever decides, and a sender that
  // goes meanwhile is noticed.
  connection.hooks = ticket->preview();
  connection.awaiting = ticket.get();
  StartLiveness(connection);
  const bool open = ReadFrames(connection, [&] {
    return running && !connection.ending && ticket->decision() == AdmissionTicket::Decision::Pending;
  });
  connection.awaiting = nullptr;
  SenderHooks preview = std::move(connection.hooks);
  connection.hooks = SenderHooks{};
  if (preview.ended) preview.ended();
  if (!open || !running || connection.ending) return false;
  if (ticket->decision() != AdmissionTicket::Decision::Admitted) {
    const std::string why = ticket->reason();
    Refuse(connection, CLOSE_POLICY_VIOLATION, "not approved",
           "Sender refused, not approved: " + connection.clientInfo + (why.empty() ? "" : " (" + why + ")"));
    return false;
  }
  return true;
}

bool WebSocketServer::IsCurrentLocked(const Connection& connection) const {
  return std::find(current.begin(), current.end(), &connection) != current.end();
}

WebSocketServer::Connection* WebSocketServer::ChooseLeavingLocked() {
  // One already on its way out leaves first: a place waiting for its predecessor to finish
  // is held as much as one casting.
  for (Connection* connection : current) {
    if (connection->ending) return connection;
  }
  if (holdCurrentSender) return nullptr;
  // Otherwise the sender whose last picture is the oldest: a screen that is off, or a
  // phone that stopped casting without closing, before anyone who is showing something.
  const uint32_t now = Tick();
  Connection* quietest = nullptr;
  for (Connection* connection : current) {
    if (quietest == nullptr ||
        TicksBetween(connection->lastPictureTick, now) > TicksBetween(quietest->lastPictureTick, now)) {
      quietest = connection;
    }
  }
  return quietest;
}

bool WebSocketServer::BecomeCurrent(Connection& connection) {
  // Taken out of the list: this thread now owns the leaving sender's entry and joins it.
  std::list<Connection> previous;
  bool refused = false;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    if (!running || connection.ending || connection.evicted) return false;
    if (current.size() >= maxSenders) {
      Connection* leaving = ChooseLeavingLocked();
      refused = leaving == nullptr;
      if (!refused) {
        for (auto it = connections.begin(); it != connections.end(); ++it) {
          if (&*it == leaving) {
            previous.splice(previous.end(), connections, it);
            break;
          }
        }
        EndConnectionLocked(*leaving);
        std::erase(current, leaving);
      }
    }
    if (!refused) {
      current.push_back(&connection);
      connection.lastPictureTick = Tick();
    }
  }
  if (refused) {
    Refuse(connection, CLOSE_TRY_AGAIN_LATER, "try again later",
           "Sender refused, another one is casting: " + connection.clientInfo);
    return false;
  }
  // The leaving sender's own thread ends its hooks; once it has finished, the newcomer
  // takes its place.
  JoinAll(previous);
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    // Replaced in turn, or stopped, while we waited: this connection never became current.
    if (!IsCurrentLocked(connection) || connection.ending || !running) return false;
    connection.connected = true;
  }
  if (senderOpener) connection.hooks = senderOpener(connection.clientInfo);
  return true;
}

void WebSocketServer::Refuse(Connection& connection, uint16_t status, const char* reason, const std::string& line) {
  // The socket is still open: only this connection's thread, the caller, closes it.
  ByteBuffer payload = {static_cast<uint8_t>(status >> 8), static_cast<uint8_t>(status & 0xFF)};
  payload.insert(payload.end(), reason, reason + std::char_traits<char>::length(reason));
  ByteBuffer closeFrame = EncodeFrame(WS_OPCODE_CLOSE, true, payload);
  SendOnce(connection.clientSocket.Fd(), closeFrame.data(), closeFrame.size());
  Count(metrics ? &metrics->sendersRefused : nullptr);
  LogInfoThinned(refusalLines, line, connection.source);
}

}  // namespace orrin
