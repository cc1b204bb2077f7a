#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "net/socket.h"
#include "net/websocket/callbacks.h"
#include "net/websocket/frame_parser.h"
#include "support/bytes.h"

namespace orrin {

// The receiving end of the cast link: listens on one TCP port, serves one sender at a time
// (a new connection always replaces the current one), performs the opening handshake, reads
// frames and hands the media of cast messages to the callbacks.
//
// Threads: the accept loop and at most one client thread, both owned and joined here; once
// Stop returns none of them runs. Stop must not be called from a callback (it joins the
// threads the callbacks run on).
class WebSocketServer {
 public:
  explicit WebSocketServer(int port);
  ~WebSocketServer();
  WebSocketServer(const WebSocketServer&) = delete;
  WebSocketServer& operator=(const WebSocketServer&) = delete;

  // Set before Start, not while the server runs.
  void SetVideoFrameCallback(FrameCallback callback);
  void SetAudioFrameCallback(FrameCallback callback);
  void SetConnectionCallback(ConnectionCallback callback);
  void SetErrorCallback(ErrorCallback callback);

  bool Start();
  void Stop();

  // The port actually bound (useful after constructing with port 0); 0 when not listening.
  int ListeningPort() const;

  // The receive time-out of a connection: the deadline of the whole handshake request and
  // the SO_RCVTIMEO the frame reader runs under. 30000 ms; tests shorten it.
  void SetConnectionTimeout(int milliseconds) { receiveTimeoutMs = milliseconds; }

  std::string GenerateAcceptKey(const std::string& clientKey) const;

 private:
  void ServerThread();
  void ClientThread(int socket);
  void CloseClient();
  void WakeClient();
  void ReleaseClientSocket();
  void PauseAfterAcceptFailure();

  bool PerformHandshake(int socket);
  bool PerformHandshakeUnguarded(int socket);
  bool ReceiveFrame(int socket);
  bool SendPong(int socket, const ByteBuffer& payload);
  void ProcessWebSocketFrame(const ByteBuffer& message);

  int port;
  Socket serverSocket;
  // Guards clientSocket: another thread may only Wake it (which ends a blocked receive),
  // never close it, because the client thread could still be using the number. The client
  // thread closes it when it is done with it.
  std::mutex clientSocketMutex;
  Socket clientSocket;
  std::atomic<bool> running{false};
  std::atomic<bool> clientConnected{false};
  std::thread serverThread;
  std::thread clientThread;
  FrameCallback videoCallback;
  FrameCallback audioCallback;
  ConnectionCallback connectionCallback;
  ErrorCallback errorCallback;

  std::mutex lifecycleMutex;  // Start and Stop, one at a time
  std::mutex pauseMutex;      // the accept loop's pause, cut short by Stop
  std::condition_variable pauseWake;
  std::atomic<int> receiveTimeoutMs{30000};
  FrameParser frameParser;  // the current connection's reader state (client thread only)
};

}  // namespace orrin
