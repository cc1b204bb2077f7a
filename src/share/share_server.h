#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/ipv4_network.h"
#include "share/share_hub.h"
#include "share/share_request.h"
#include "share/share_status.h"
#include "support/log_thinning.h"
#include "support/receiver_metrics.h"

struct mg_connection;
struct mg_context;

namespace orrin {

struct ShareOptions {
  std::string address;  // dotted IPv4 to listen on; empty: every IPv4 interface
  int port = 0;         // 0: one the system chooses (tests)
  std::string token;    // empty: none needed
  std::vector<Ipv4Network> allow;  // empty: everyone
  // A request must arrive whole within this time, and a viewer that takes no bytes for this
  // long is let go. It also bounds how long stopping waits for a connection.
  int timeoutMs = 500;
};

// The shared view: an HTTP server (civetweb) that shows the cast to browsers and other
// programs on the network, and tells how the receiver is doing. Pictures and sound come in
// through hub(); the server never makes the cast wait (each viewer has a bounded queue of
// its own) and serves nothing beyond its fixed set of answers.
//
// Threads: civetweb's listener and a fixed number of workers (two per allowed viewer and a
// few for short requests), all started by Start and joined by Stop.
class ShareServer {
 public:
  ShareServer(ShareOptions options, const ReceiverMetrics& metrics, ReceiverFactsSource facts);
  ~ShareServer();
  ShareServer(const ShareServer&) = delete;
  ShareServer& operator=(const ShareServer&) = delete;

  ShareHub& hub() { return hub_; }

  // False (and a log line saying why) when it cannot listen.
  bool Start();
  void Stop();

  int ListeningPort() const { return port_; }
  // "ADDR:PORT" as a viewer would type it (the address is 0.0.0.0 for all interfaces).
  std::string ListeningAddress() const;

  ShareStatus Status();

  static constexpr int WORKER_THREADS = 2 * static_cast<int>(ShareHub::MAX_VIEWERS) + 4;

 private:
  static int BeginRequest(mg_connection* conn);
  static int LogMessage(const mg_connection* conn, const char* message);
  void Handle(mg_connection* conn);
  void StreamPictures(mg_connection* conn, const ShareDecision& decision);
  void StreamSound(mg_connection* conn, const ShareDecision& decision);
  void SendWhole(mg_connection* conn, const ShareDecision& decision, int status, const char* type,
                 const std::string& body, bool fresh);
  void SendRefusal(mg_connection* conn, const ShareDecision& decision, int status, const std::string& text);
  bool SendHeaders(mg_connection* conn, const ShareDecision& decision, int status, const char* type, long long length,
                   bool fresh);
  bool Write(mg_connection* conn, const void* data, size_t size);
  void WakeListener() const;

  const ShareOptions options_;
  const ReceiverMetrics& metrics_;
  const ReceiverFactsSource facts_;
  const int64_t startNs_;
  ShareHub hub_;
  mg_context* context_ = nullptr;  // owned: mg_stop frees it
  int port_ = 0;
  std::mutex lifecycleMutex_;
  std::atomic<uint64_t> bytesSent_{0};
  CounterRate receivedRate_;
  CounterRate shownRate_;
  LogThinner serverLines_{100};
  LogThinner refusedViewers_{100};
};

}  // namespace orrin
