#include "net/websocket/websocket_server.h"

#include <chrono>
#include <exception>
#include <functional>
#include <system_error>
#include <string_view>

#include "net/websocket/cast_message.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/handshake.h"
#include "support/log.h"
#include "support/log_thinning.h"
#include "support/tick.h"

namespace orrin {

namespace {

// A failing accept usually keeps failing for a while (out of descriptors, out of memory):
// pause between tries instead of spinning and flooding the log.
constexpr std::chrono::milliseconds ACCEPT_RETRY_PAUSE{100};

std::string Code(int code) { return std::to_string(code); }

// Anyone who can reach the port can fail a handshake or break a frame as often as they
// like: those lines are thinned, failed handshakes per source address.
constexpr uint64_t SENDER_FAULT_EVERY = 100;
LogThinner handshakeFailures(SENDER_FAULT_EVERY);
LogThinner handshakeFailedNotes(SENDER_FAULT_EVERY);
LogThinner abandonedMessages(SENDER_FAULT_EVERY);
LogThinner oversizedFrames(SENDER_FAULT_EVERY);

// The peer's IPv4 address (no port: a flood comes from many ports of one host).
std::string PeerSource(SocketHandle socket) {
  sockaddr_in peer{};
  if (!PeerAddressOf(socket, peer)) return {};
  return FormatIPv4(peer.sin_addr);
}

}  // namespace

WebSocketServer::WebSocketServer(int port) : port(port) {}

WebSocketServer::~WebSocketServer() { Stop(); }

void WebSocketServer::SetVideoFrameCallback(FrameCallback callback) { videoCallback = std::move(callback); }
void WebSocketServer::SetAudioFrameCallback(FrameCallback callback) { audioCallback = std::move(callback); }
void WebSocketServer::SetConnectionCallback(ConnectionCallback callback) {
  connectionCallback = std::move(callback);
}
void WebSocketServer::SetErrorCallback(ErrorCallback callback) { errorCallback = std::move(callback); }

bool WebSocketServer::Start() {
  std::lock_guard<std::mutex> lock(lifecycleMutex);
  if (running) return true;

  auto fail = [this](const std::string& text) {
    if (errorCallback) errorCallback(text);
    return false;
  };
  // Not inherited: programs we start (tests start clients) must not hold our sockets.
  Socket listener(OpenSocket(SOCK_STREAM));
  if (!listener.Valid()) return fail("Failed to create server socket: " + Code(LastSocketError()));
  AllowQuickRebind(listener.Fd());

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  if (::bind(listener.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int code = LastSocketError();
    listener.Close();
    return fail("Failed to bind socket: " + Code(code));
  }
  if (::listen(listener.Fd(), SOMAXCONN) != 0) {
    int code = LastSocketError();
    listener.Close();
    return fail("Failed to listen: " + Code(code));
  }

  serverSocket = std::move(listener);
  running = true;
  serverThread = std::thread(&WebSocketServer::ServerThread, this);
  LogInfo("WebSocket服务器启动成功，端口: " + std::to_string(ListeningPort()));
  return true;
}

void WebSocketServer::Stop() {
  std::lock_guard<std::mutex> lock(lifecycleMutex);
  if (!running) return;
  running = false;
  {
    std::lock_guard<std::mutex> pause(pauseMutex);
  }
  pauseWake.notify_all();

  // First the accept loop: once it is joined no new connection can appear. Then every
  // connection, current or pending: each one's own thread reports its `false`.
  serverSocket.Wake();
  if (serverThread.joinable()) serverThread.join();
  std::list<Connection> remaining;
  {
    std::lock_guard<std::mutex> guard(connectionsMutex);
    remaining.splice(remaining.end(), connections);
    for (Connection& connection : remaining) EndConnectionLocked(connection);
  }
  for (Connection& connection : remaining) {
    if (connection.thread.joinable()) connection.thread.join();
  }
  serverSocket.Close();
  LogInfo("WebSocket服务器已停止");
}

int WebSocketServer::ListeningPort() const { return BoundPort(serverSocket.Fd()); }

void WebSocketServer::PauseAfterAcceptFailure() {
  std::unique_lock<std::mutex> lock(pauseMutex);
  pauseWake.wait_for(lock, ACCEPT_RETRY_PAUSE, [this] { return !running; });
}

void WebSocketServer::ServerThread() {
  LogInfo("WebSocket服务器线程已启动");
  while (running) {
    sockaddr_in clientAddr{};
    SocketHandle fd = AcceptConnection(serverSocket.Fd(), clientAddr);
    if (fd == INVALID_SOCKET_HANDLE) {
      int code = LastSocketError();
      // A time-out only means the accept looks at `running` again (it waits in steps where
      // nothing else would end it).
      if (running && !IsInterruptedError(code) && !IsTimeoutError(code)) {
        LogError("Accept failed: " + Code(code));
        PauseAfterAcceptFailure();
      }
      continue;
    }
    Socket accepted(fd);
    if (!running) break;  // accepted while stopping: `accepted` closes it
    Accept(std::move(accepted), clientAddr);
  }
  LogInfo("WebSocket服务器线程已退出");
}

void WebSocketServer::Accept(Socket accepted, const sockaddr_in& clientAddr) {
  const std::string clientInfo = FormatAddress(clientAddr);
  Count(metrics ? &metrics->connections : nullptr);
  if (!IsAllowedSource(allowedNetworks, clientAddr.sin_addr)) {
    Count(metrics ? &metrics->sendersRefused : nullptr);
    LogErrorThinned(outsiderLines, "Connection from outside the allowed networks closed: " + clientInfo,
                    FormatIPv4(clientAddr.sin_addr));
    return;  // `accepted` closes it
  }
  ReapFinishedConnections();
  const std::string source = FormatIPv4(clientAddr.sin_addr);
  const bool announced = LogInfoThinned(connectionLines, "客户端连接: " + clientInfo, source) != 0;

  std::lock_guard<std::mutex> lock(connectionsMutex);
  // The bound on connections still in their handshake: the oldest one makes room. Its
  // thread sees its receive end and goes as a failed handshake does.
  size_t pending = 0;
  Connection* oldest = nullptr;
  for (Connection& connection : connections) {
    if (connection.finished || connection.evicted || &connection == current) continue;
    if (connection.connected || connection.ending) continue;
    if (oldest == nullptr) oldest = &connection;
    ++pending;
  }
  if (pending >= MAX_PENDING_HANDSHAKES && oldest != nullptr) {
    oldest->evicted = true;
    oldest->clientSocket.Wake();
    LogErrorThinned(evictionLines, "Too many connections in their handshake, oldest closed: " + oldest->clientInfo,
                    oldest->source);
  }
  Connection& connection = connections.emplace_back();
  connection.clientSocket = std::move(accepted);
  connection.clientInfo = clientInfo;
  connection.source = source;
  connection.announced = announced;
  try {
    connection.thread = std::thread(&WebSocketServer::ClientThread, this, std::ref(connection));
  } catch (const std::system_error& e) {
    LogError(std::string("Failed to start client thread: ") + e.what());
    connections.pop_back();  // closes the connection
  }
}

void WebSocketServer::ClientThread(Connection& connection) {
  const SocketHandle socket = connection.clientSocket.Fd();
  auto closeQuietly = [&] {
    try {
      CloseClient(connection);
    } catch (...) {
      // The connection callback already failed once for this connection.
    }
  };

  try {
    if (connection.announced) LogInfo("客户端处理线程已启动");
    if (!PerformHandshake(socket)) {
      Count(metrics ? &metrics->handshakesFailed : nullptr);
      LogErrorThinned(handshakeFailedNotes, "WebSocket握手失败", PeerSource(socket));
      FinishConnection(connection);
      return;
    }
    if (!BecomeCurrent(connection)) {
      // Refused, replaced by a later sender while it waited for its predecessor, or stopped.
      LogInfo("客户端处理线程已退出");
      FinishConnection(connection);
      return;
    }
    LogInfo("WebSocket握手成功");
    connectionLines.Forget(connection.source);  // a sender, not a knock: its next connection is written in full
    frameParser = FrameParser();
    try {
      while (running && !connection.ending) {
        if (!ReceiveFrame(socket)) break;
      }
    } catch (const std::exception& e) {
      LogError(std::string("Exception in ProcessWebSocketFrame: ") + e.what());
    } catch (...) {
      LogError("Unknown exception in ProcessWebSocketFrame");
    }
    frameParser = FrameParser();  // gives a half-built message back
    CloseClient(connection);
    LogInfo("客户端处理线程已退出");
  } catch (const std::exception& e) {
    LogError(std::string("Exception in ClientThread: ") + e.what());
    closeQuietly();
  } catch (...) {
    LogError("Unknown exception in ClientThread");
    closeQuietly();
  }
  FinishConnection(connection);
}

bool WebSocketServer::BecomeCurrent(Connection& connection) {
  // Taken out of the list: this thread now owns the previous sender's entry and joins it.
  std::list<Connection> previous;
  bool refused = false;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    if (!running || connection.ending || connection.evicted) return false;
    // A current sender still waiting for its predecessor to finish holds its place too.
    refused = current != nullptr && holdCurrentSender && !current->ending;
    if (!refused && current != nullptr) {
      for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (&*it == current) {
          previous.splice(previous.end(), connections, it);
          break;
        }
      }
      EndConnectionLocked(*current);
    }
    if (!refused) current = &connection;
  }
  if (refused) {
    RefuseNewcomer(connection);
    return false;
  }
  // The previous sender's own thread reports its `false`; once it has finished, nobody else
  // uses the frame reader.
  for (Connection& old : previous) {
    if (old.thread.joinable()) old.thread.join();
  }
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    // Replaced in turn, or stopped, while we waited: this connection never became current.
    if (current != &connection || connection.ending || !running) return false;
    connection.connected = true;
  }
  if (connectionCallback) connectionCallback(true, connection.clientInfo);
  return true;
}

void WebSocketServer::RefuseNewcomer(Connection& connection) {
  // The socket is still open: only this connection's thread, the caller, closes it.
  static constexpr char REASON[] = "try again later";
  ByteBuffer payload = {0x03, 0xF5};  // 1013, big-endian
  payload.insert(payload.end(), REASON, REASON + sizeof REASON - 1);
  ByteBuffer closeFrame = EncodeFrame(WS_OPCODE_CLOSE, true, payload);
  SendOnce(connection.clientSocket.Fd(), closeFrame.data(), closeFrame.size());
  Count(metrics ? &metrics->sendersRefused : nullptr);
  LogInfoThinned(refusalLines, "Sender refused, another one is casting: " + connection.clientInfo,
                 connection.source);
}

void WebSocketServer::CloseClient(Connection& connection) {
  bool wasConnected = connection.connected.exchange(false);
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    EndConnectionLocked(connection);
  }
  if (wasConnected && connectionCallback) connectionCallback(false, "");
}

void WebSocketServer::EndConnectionLocked(Connection& connection) {
  // Shutting the connection down tells the sender it is closed and ends a blocked receive;
  // the descriptor stays open until the connection's own thread lets it go.
  connection.ending = true;
  connection.clientSocket.Wake();
}

void WebSocketServer::FinishConnection(Connection& connection) {
  std::lock_guard<std::mutex> lock(connectionsMutex);
  connection.clientSocket.Close();
  connection.finished = true;
  if (current == &connection) current = nullptr;
}

void WebSocketServer::ReapFinishedConnections() {
  std::list<Connection> done;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (it->finished) done.splice(done.end(), connections, it);
      it = next;
    }
  }
  // Each has only to return from its function.
  for (Connection& connection : done) connection.thread.join();
}

std::string WebSocketServer::GenerateAcceptKey(const std::string& clientKey) const {
  return AcceptKeyFor(clientKey);
}

bool WebSocketServer::PerformHandshake(SocketHandle socket) {
  try {
    return PerformHandshakeUnguarded(socket);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in PerformHandshake: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in PerformHandshake");
  }
  return false;
}

bool WebSocketServer::PerformHandshakeUnguarded(SocketHandle socket) {
  const int timeout = receiveTimeoutMs;
  // One deadline for the whole request: a request split over several segments is read
  // whole, and a sender that trickles bytes cannot hold the connection open for ever.
  const uint32_t start = Tick();
  std::string received;
  received.reserve(MAX_HANDSHAKE_REQUEST);
  char buffer[MAX_HANDSHAKE_REQUEST];
  while (!HandshakeRequestComplete(received)) {
    uint32_t elapsed = TicksBetween(start, Tick());
    long result = -1;
    int code = SOCKET_TIMEOUT_ERROR;
    if (elapsed < static_cast<uint32_t>(timeout)) {
      SetReceiveTimeout(socket, timeout - static_cast<int>(elapsed));
      result = ReceiveOnce(socket, buffer, MAX_HANDSHAKE_REQUEST - received.size());
      code = result < 0 ? LastSocketError() : 0;
    }
    if (result > 0) {
      received.append(buffer, static_cast<size_t>(result));
      continue;
    }
    if (result < 0 && IsInterruptedError(code)) continue;
    // A sender that sent something and then finished writing gets an answer to what it sent.
    if (result == 0 && !received.empty()) break;
    LogErrorThinned(handshakeFailures, "Failed to receive handshake request, error: " + Code(code),
                    PeerSource(socket));
    return false;
  }
  // The frame reader keeps this time-out: a silent sender is reported, not dropped.
  SetReceiveTimeout(socket, timeout);

  std::string_view request = HandshakeRequestText(received);
  KeySearch search = ExtractWebSocketKey(request);
  if (search.status != KeyStatus::Found) {
    // A refused request and its excerpt are written together, or (thinned) neither.
    if (uint64_t count = handshakeFailures.Note(PeerSource(socket))) {
      LogInfo(HandshakeRequestLogLine(request));
      LogError(ThinnedLine(search.status == KeyStatus::NotFound ? "WebSocket-Key not found in request"
                                                                 : "Invalid WebSocket-Key format",
                           count));
    }
    return false;
  }
  LogInfo(HandshakeRequestLogLine(request));
  LogInfo(KeyLogLine(search.key));

  std::string responseStr = BuildHandshakeResponse(GenerateAcceptKey(search.key));
  LogInfo("Sending handshake response: " + responseStr);
  long sent = SendOnce(socket, responseStr.data(), responseStr.size());
  if (sent == static_cast<long>(responseStr.size())) {
    LogInfo("WebSocket handshake completed successfully");
    return true;
  }
  LogErrorThinned(handshakeFailures, "Failed to send handshake response, error: " + Code(sent < 0 ? LastSocketError() : 0),
                  PeerSource(socket));
  return false;
}

bool WebSocketServer::ReceiveFrame(SocketHandle socket) {
  for (;;) {
    std::span<uint8_t> space = frameParser.Space();
    long result = ReceiveOnce(socket, space.data(), space.size());
    if (result > 0) {
      FrameEvent event = frameParser.Advance(static_cast<size_t>(result));
      if (event.abandonedBytes != 0) {
        LogErrorThinned(abandonedMessages,
                        "Incomplete fragmented message dropped: " + std::to_string(event.abandonedBytes) + " bytes");
      }
      switch (event.kind) {
        case FrameEventKind::NeedMore:
          continue;
        case FrameEventKind::Message:
          ProcessWebSocketFrame(event.payload);
          return true;
        case FrameEventKind::Ping:
          SendPong(socket, event.payload);
          return true;
        case FrameEventKind::Close:
          LogInfo("收到关闭帧");
          return false;
        case FrameEventKind::Ignored:
          return true;
        case FrameEventKind::TooLarge:
          LogErrorThinned(oversizedFrames, "Frame too large: " + std::to_string(event.size));
          return false;
      }
      return true;
    }
    int code = result < 0 ? LastSocketError() : 0;
    if (result < 0 && IsInterruptedError(code)) continue;
    // Only a failed receive can be a time-out; zero bytes means the sender closed.
    bool timedOut = result < 0 && IsTimeoutError(code);
    // After a time-out the parser keeps the part of the frame it has, and the next call
    // goes on with the same frame.
    switch (frameParser.Step()) {
      case FrameStep::Header:
        if (timedOut) {
          LogInfo("WebSocket接收超时，可能设备息屏，继续等待...");
          return true;
        }
        LogError("Failed to receive frame header, error: " + Code(code));
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

bool WebSocketServer::SendPong(SocketHandle socket, const ByteBuffer& payload) {
  ByteBuffer pongFrame = EncodeFrame(WS_OPCODE_PONG, true, payload);
  return SendOnce(socket, pongFrame.data(), pongFrame.size()) == static_cast<long>(pongFrame.size());
}

void WebSocketServer::ProcessWebSocketFrame(const ByteBuffer& message) {
  DispatchCastMessage(message, videoCallback, audioCallback);
}

}  // namespace orrin
