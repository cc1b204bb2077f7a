#include "net/websocket/websocket_server.h"

#include <exception>
#include <functional>
#include <system_error>
#include <string_view>

#include "net/accept_loop.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/handshake.h"
#include "support/log.h"
#include "support/log_escape.h"
#include "support/tick.h"

namespace orrin {

namespace {

// The peer's IPv4 address (no port: a flood comes from many ports of one host).
std::string PeerSource(SocketHandle socket) {
  sockaddr_in peer{};
  if (!PeerAddressOf(socket, peer)) return {};
  return FormatIPv4(peer.sin_addr);
}

}  // namespace

WebSocketServer::WebSocketServer(int port) : port(port) {}

WebSocketServer::~WebSocketServer() { Stop(); }

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
  acceptLoop.Interrupt();

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
  JoinAll(remaining);
  serverSocket.Close();
  LogInfo("WebSocket服务器已停止");
}

int WebSocketServer::ListeningPort() const { return BoundPort(serverSocket.Fd()); }

void WebSocketServer::ServerThread() {
  LogInfo("WebSocket服务器线程已启动");
  acceptLoop.Run(serverSocket.Fd(), "Accept failed: ",
                 [this](Socket accepted, const sockaddr_in& from) { Accept(std::move(accepted), from); });
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
    if (connection.finished || connection.evicted || IsCurrentLocked(connection)) continue;
    if (connection.answered || connection.connected || connection.ending) continue;
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
    {
      // Answered: a sender now, waiting only for its predecessor to go, never the oldest
      // connection in its handshake to be closed for the bound.
      std::lock_guard<std::mutex> lock(connectionsMutex);
      connection.answered = true;
    }
    if (!AwaitAdmission(connection) || !BecomeCurrent(connection)) {
      // Not let in, refused, replaced by a later sender while it waited for its
      // predecessor, or stopped.
      LogInfo("客户端处理线程已退出");
      FinishConnection(connection);
      return;
    }
    LogInfo("WebSocket握手成功");
    connectionLines.Forget(connection.source);  // a sender, not a knock: its next connection is written in full
    StartLiveness(connection);
    ReadFrames(connection, [&] { return running && !connection.ending; });
    connection.frameParser = FrameParser();  // gives a half-built message back
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

void WebSocketServer::CloseClient(Connection& connection) {
  bool wasConnected = connection.connected.exchange(false);
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    EndConnectionLocked(connection);
  }
  if (!wasConnected) return;
  // Released at once: the receiver's side of the sender goes with its connection.
  SenderHooks hooks = std::move(connection.hooks);
  connection.hooks = SenderHooks{};
  if (hooks.ended) hooks.ended();
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
  std::erase(current, &connection);
}

void WebSocketServer::ReapFinishedConnections() {
  std::list<Connection> done;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    done = TakeFinished(connections);
  }
  JoinAll(done);  // each has only to return from its function
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

  std::string responseStr = BuildHandshakeResponse(AcceptKeyFor(search.key));
  LogInfo("Sending handshake response: " + EscapeForLog(responseStr));
  long sent = SendOnce(socket, responseStr.data(), responseStr.size());
  if (sent == static_cast<long>(responseStr.size())) {
    LogInfo("WebSocket handshake completed successfully");
    return true;
  }
  LogErrorThinned(handshakeFailures, "Failed to send handshake response, error: " + Code(sent < 0 ? LastSocketError() : 0),
                  PeerSource(socket));
  return false;
}

}  // namespace orrin
