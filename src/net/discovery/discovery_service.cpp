#include "net/discovery/discovery_service.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "net/accept_loop.h"
#include "net/discovery/answer_address.h"
#include "net/discovery/discovery_protocol.h"
#include "support/host_identity.h"
#include "support/log.h"
#include "support/tick.h"

namespace orrin {
namespace {

constexpr auto ERROR_PAUSE = std::chrono::milliseconds(100);
// A flood of connections beyond the reply limit would otherwise write one line each.
constexpr unsigned REFUSED_LOG_EVERY = 100;

// Worker threads end here rather than taking the process down with an escaped exception.
template <typename Body>
void RunGuarded(const char* name, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    LogError(std::string("Exception in ") + name + ": " + e.what());
  } catch (...) {
    LogError(std::string("Unknown exception in ") + name);
  }
}


}  // namespace

DiscoveryService::DiscoveryService(const std::string& deviceName, int port)
    : deviceName(deviceName), port(port) {}

DiscoveryService::~DiscoveryService() { Stop(); }

bool DiscoveryService::Start() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
  if (running) return true;
  running = true;
  // A new start writes its first answers again.
  for (LogThinner* lines : {&udpAnswerLines, &tcpAnswerLines, &droppedLines, &outsiderLines}) lines->Reset();
  try {
    udpThread = std::thread([this] { RunGuarded("UdpListenerThread", [this] { UdpListenerThread(); }); });
    tcpThread = std::thread([this] { RunGuarded("TcpListenerThread", [this] { TcpListenerThread(); }); });
  } catch (const std::system_error& e) {
    // Like a port that cannot be bound: that half of discovery is off, the rest goes on.
    LogError(std::string("Failed to start discovery thread: ") + e.what());
  }
  LogInfo("设备发现服务已启动: " + deviceName);
  return true;
}

void DiscoveryService::Stop() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
  if (!running) return;
  running = false;
  {
    // Closing would race with the threads still using the sockets; waking them ends a
    // blocked recvfrom/accept at once, instead of after the next receive time-out.
    std::lock_guard<std::mutex> lock(socketMutex);
    udpSocket.Wake();
    tcpSocket.Wake();
  }
  stopRequested.notify_all();
  acceptLoop.Interrupt();
  if (udpThread.joinable()) udpThread.join();
  if (tcpThread.joinable()) tcpThread.join();
  // The TCP listener is gone, so no new reply can start from here on.
  StopTcpReplies();
  {
    std::lock_guard<std::mutex> lock(socketMutex);
    udpSocket.Close();
    tcpSocket.Close();
  }
  LogInfo("设备发现服务已停止");
}

std::string DiscoveryService::BuildResponse(const in_addr* reached) const {
  // Asked anew for every reply: the address may change while we run (DHCP, Wi-Fi switch).
  // A machine on several networks names the one the probe came in on.
  return BuildDiscoveryResponse(deviceName, AnswerAddressFor(reached), port);
}

SocketHandle DiscoveryService::OpenListeningSocket(Socket& slot, int type, const char* kind) {
  Socket created(OpenSocket(type));
  if (!created.Valid()) {
    LogError(std::string("Failed to create ") + kind + " socket: " + Code(LastSocketError()));
    return INVALID_SOCKET_HANDLE;
  }
  SocketHandle fd = created.Fd();
  // Option results are not checked: without them discovery still works, only less well.
  AllowQuickRebind(fd);
  // No SO_BROADCAST: receiving broadcast probes needs none, and without it an answer can
  // never go out as a broadcast.
  if (type == SOCK_DGRAM) EnableDestinationAddress(fd);
  SetReceiveTimeout(fd, DISCOVERY_RECEIVE_TIMEOUT_MS);
  {
    std::lock_guard<std::mutex> lock(socketMutex);
    slot = std::move(created);
  }

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port =
      htons(static_cast<uint16_t>(type == SOCK_DGRAM ? DISCOVERY_UDP_PORT : DISCOVERY_TCP_PORT));
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    int error = LastSocketError();
    LogError(std::string("Failed to bind ") + kind + " socket: " + Code(error));
    CloseListeningSocket(slot);
    return INVALID_SOCKET_HANDLE;
  }
  return fd;
}

void DiscoveryService::CloseListeningSocket(Socket& slot) {
  std::lock_guard<std::mutex> lock(socketMutex);
  slot.Close();
}

void DiscoveryService::PauseAfterError() {
  std::unique_lock<std::mutex> lock(socketMutex);
  stopRequested.wait_for(lock, ERROR_PAUSE, [this] { return !running; });
}

void DiscoveryService::UdpListenerThread() {
  LogInfo("UDP广播监听线程已启动，端口: " + std::to_string(DISCOVERY_UDP_PORT));
  SocketHandle fd = OpenListeningSocket(udpSocket, SOCK_DGRAM, "UDP");
  if (fd == INVALID_SOCKET_HANDLE) return;

  char buffer[DISCOVERY_BUFFER_SIZE];
  bool lastFailed = false;
  while (running) {
    sockaddr_in clientAddr{};
    in_addr reached{};
    // A longer datagram is cut to its first DISCOVERY_MAX_READ bytes by the kernel; that is
    // enough to tell whether it is a probe.
    long received = ReceiveDatagram(fd, buffer, DISCOVERY_MAX_READ, clientAddr, reached);
    if (received > 0) {
      lastFailed = false;
      HandleUdpRequest(fd, clientAddr, reached, std::string_view(buffer, static_cast<size_t>(received)));
      continue;
    }
    // 0: an empty datagram, or Stop's wake-up; the loop test tells them apart.
    if (received == 0) continue;
    int error = LastSocketError();
    if (IsTimeoutError(error) || IsInterruptedError(error) || !running) continue;
    // Errors here concern one datagram (or an ICMP report about an earlier reply); the
    // listener stays up for the next sender. Only Stop ends it.
    LogError("UDP receive error: " + Code(error));
    if (lastFailed) PauseAfterError();
    lastFailed = true;
  }

  CloseListeningSocket(udpSocket);
  LogInfo("UDP广播监听线程已退出");
}

void DiscoveryService::HandleUdpRequest(SocketHandle socket, const sockaddr_in& clientAddr, const in_addr& reached,
                                        std::string_view request) {
  if (!IsDiscoveryRequest(request) || !MayAnswerUdp(clientAddr)) return;
  std::string response = BuildResponse(&reached);
  // From the listening socket, so the answer comes from port 8888, back to the sender's
  // own address and port (a unicast reply even to a broadcast probe).
  long sent = SendDatagram(socket, response.data(), response.size(), clientAddr);
  if (sent == static_cast<long>(response.size())) {
    Count(metrics ? &metrics->discoveryAnswers : nullptr);
    LogInfoThinned(udpAnswerLines, "发送UDP发现响应到: " + FormatAddress(clientAddr), FormatIPv4(clientAddr.sin_addr));
  } else if (running) {
    // While stopping, the wake-up has shut the socket down under this reply: no failure.
    LogError("Failed to send UDP response: " + Code(sent < 0 ? LastSocketError() : SOCKET_MESSAGE_SIZE_ERROR));
  }
}

bool DiscoveryService::IsAllowed(const sockaddr_in& clientAddr, LogThinner& lines, const std::string& text) {
  if (IsAllowedSource(allowedNetworks, clientAddr.sin_addr)) return true;
  LogErrorThinned(lines, text + FormatAddress(clientAddr), FormatIPv4(clientAddr.sin_addr));
  return false;
}

bool DiscoveryService::MayAnswerUdp(const sockaddr_in& clientAddr) {
  const uint32_t now = Tick();
  if (!broadcastsRead || TicksBetween(broadcastsReadAt, now) >= 1000) {
    broadcastAddresses = LocalBroadcastAddresses();
    broadcastsReadAt = now;
    broadcastsRead = true;
  }
  // Forged or privileged sources are dropped without a line: logging them would hand the
  // sender of the flood our disk instead.
  if (!IsAnswerableSource(clientAddr, broadcastAddresses)) return false;
  if (!IsAllowed(clientAddr, outsiderLines, "Discovery probe from outside the allowed networks ignored: ")) return false;
  if (udpAnswers.Allow(clientAddr.sin_addr.s_addr, now)) return true;
  LogErrorThinned(droppedLines, "Too many discovery probes, not answered: " + FormatAddress(clientAddr),
                  FormatIPv4(clientAddr.sin_addr));
  return false;
}

void DiscoveryService::TcpListenerThread() {
  LogInfo("TCP发现服务线程已启动，端口: " + std::to_string(DISCOVERY_TCP_PORT));
  SocketHandle fd = OpenListeningSocket(tcpSocket, SOCK_STREAM, "TCP");
  if (fd == INVALID_SOCKET_HANDLE) return;
  if (::listen(fd, SOMAXCONN) != 0) {
    int error = LastSocketError();
    LogError("Failed to listen on TCP socket: " + Code(error));
    CloseListeningSocket(tcpSocket);
    return;
  }

  acceptLoop.Run(fd, "TCP accept error: ", [this](Socket connection, const sockaddr_in& clientAddr) {
    if (!IsAllowed(clientAddr, outsiderLines, "Connection from outside the allowed networks closed: ")) return;
    if (!LaunchTcpReply(std::move(connection))) {
      // Already closed by the Socket going out of scope in LaunchTcpReply.
      if (refusedConnections++ % REFUSED_LOG_EVERY == 0) {
        LogError("Too many TCP discovery clients, connection closed: " + FormatAddress(clientAddr));
      }
    }
  });

  CloseListeningSocket(tcpSocket);
  LogInfo("TCP发现服务线程已退出");
}

bool DiscoveryService::LaunchTcpReply(Socket clientSocket) {
  std::list<TcpReply> done;
  std::unique_lock<std::mutex> lock(replyMutex);
  done = TakeFinished(replies);
  JoinAll(done);  // each has only to return; joining does not wait on replyMutex
  if (replies.size() >= MAX_TCP_REPLIES) return false;
  // A client that connects and stays silent holds its reply for one time-out, no longer.
  SetReceiveTimeout(clientSocket.Fd(), DISCOVERY_RECEIVE_TIMEOUT_MS);
  TcpReply& reply = replies.emplace_back();
  reply.clientSocket = std::move(clientSocket);
  try {
    reply.thread = std::thread([this, &reply] { RunTcpReply(reply); });
  } catch (const std::system_error&) {
    replies.pop_back();  // closes the connection
    return false;
  }
  return true;
}

void DiscoveryService::RunTcpReply(TcpReply& reply) {
  RunGuarded("HandleTcpClient", [&] { HandleTcpClient(reply.clientSocket.Fd()); });
  std::lock_guard<std::mutex> lock(replyMutex);
  reply.clientSocket.Close();
  reply.finished = true;
}

void DiscoveryService::StopTcpReplies() {
  std::list<TcpReply> remaining;
  {
    std::lock_guard<std::mutex> lock(replyMutex);
    // A reply still waiting for its request would otherwise hold Stop for its time-out.
    for (TcpReply& reply : replies) reply.clientSocket.Wake();
    remaining.splice(remaining.end(), replies);
  }
  JoinAll(remaining);
}

void DiscoveryService::HandleTcpClient(SocketHandle clientSocket) {
  char buffer[DISCOVERY_BUFFER_SIZE];
  // One read per connection: a probe comes whole in one segment, and a client that
  // trickles bytes gets no second chance to hold the thread.
  long received = ReceiveOnce(clientSocket, buffer, DISCOVERY_MAX_READ);
  if (received <= 0) return;
  if (!IsDiscoveryRequest(std::string_view(buffer, static_cast<size_t>(received)))) return;

  in_addr reached{};
  std::string response = BuildResponse(LocalAddressOf(clientSocket, reached) ? &reached : nullptr);
  long sent = SendOnce(clientSocket, response.data(), response.size());
  if (sent != static_cast<long>(response.size())) {
    // Do not claim a reply that never left.
    LogError("Failed to send TCP response: " + Code(sent < 0 ? LastSocketError() : SOCKET_MESSAGE_SIZE_ERROR));
    return;
  }
  Count(metrics ? &metrics->discoveryAnswers : nullptr);
  sockaddr_in peer{};
  if (PeerAddressOf(clientSocket, peer)) {
    LogInfoThinned(tcpAnswerLines, "发送TCP发现响应到: " + FormatAddress(peer), FormatIPv4(peer.sin_addr));
  }
}

}  // namespace orrin
