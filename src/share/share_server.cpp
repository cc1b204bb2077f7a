#include "share/share_server.h"

#include <civetweb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <thread>

#include "media/cast_stats.h"
#include "net/socket.h"
#include "share/share_page.h"
#include "support/log.h"
#include "support/version.h"

namespace orrin {

namespace {

constexpr const char* BOUNDARY = "orrin-picture";
constexpr auto IDLE_WAIT = std::chrono::milliseconds(1000);
constexpr const char* CONTENT_SECURITY_POLICY =
    "default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'self'";

std::string Text(const char* text) { return text != nullptr ? text : ""; }

std::string NetworkText(const Ipv4Network& network) {
  in_addr address{};
  address.s_addr = htonl(network.address);
  int length = 0;
  for (uint32_t mask = network.mask; mask != 0; mask <<= 1) ++length;
  return FormatIPv4(address) + "/" + std::to_string(length);
}

// civetweb's access list: everyone out, then each allowed network in.
std::string AccessList(const std::vector<Ipv4Network>& allow) {
  if (allow.empty()) return {};
  std::string list = "-0.0.0.0/0";
  for (const Ipv4Network& network : allow) list += ",+" + NetworkText(network);
  return list;
}

std::string StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

}  // namespace

ShareServer::ShareServer(ShareOptions options, const ReceiverMetrics& metrics, ReceiverFactsSource facts)
    : options_(std::move(options)), metrics_(metrics), facts_(std::move(facts)), startNs_(NowNs()) {}

ShareServer::~ShareServer() { Stop(); }

bool ShareServer::Start() {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (context_ != nullptr) return true;
  mg_init_library(0);
  const std::string ports =
      (options_.address.empty() ? std::string() : options_.address + ":") + std::to_string(options_.port);
  const std::string threads = std::to_string(WORKER_THREADS);
  const std::string timeout = std::to_string(options_.timeoutMs);
  const std::string acl = AccessList(options_.allow);
  std::vector<const char*> config = {
      "listening_ports", ports.c_str(),
      "num_threads", threads.c_str(),
      "request_timeout_ms", timeout.c_str(),
      "enable_keep_alive", "no",
      "max_request_size", "8192",
      "connection_queue", "32",
      "listen_backlog", "64",
  };
  if (!acl.empty()) config.insert(config.end(), {"access_control_list", acl.c_str()});
  config.push_back(nullptr);

  mg_callbacks callbacks{};
  callbacks.begin_request = &ShareServer::BeginRequest;
  callbacks.log_message = &ShareServer::LogMessage;
  mg_init_data init{};
  init.callbacks = &callbacks;
  init.user_data = this;
  init.configuration_options = config.data();
  char errorText[256] = "";
  unsigned errorCode = 0;
  mg_error_data error{&errorCode, errorText, sizeof errorText};
  context_ = mg_start2(&init, &error);
  if (context_ == nullptr) {
    LogError("Share server could not listen on " + ports + ": " + errorText);
    mg_exit_library();
    return false;
  }
  mg_server_port bound[4]{};
  if (mg_get_server_ports(context_, 4, bound) > 0) port_ = bound[0].port;
  return true;
}

void ShareServer::Stop() {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (context_ == nullptr) return;
  // The viewers' loops end first; then civetweb joins its threads. Its listener looks at the
  // stop flag between waits of up to two seconds: a connection of our own wakes it at once.
  hub_.Close();
  std::mutex wakeMutex;
  std::condition_variable stopped;
  bool done = false;
  std::thread waker([&] {
    std::unique_lock<std::mutex> wakeLock(wakeMutex);
    while (!done) {
      wakeLock.unlock();
      WakeListener();
      wakeLock.lock();
      stopped.wait_for(wakeLock, std::chrono::milliseconds(50), [&] { return done; });
    }
  });
  mg_stop(context_);
  {
    std::lock_guard<std::mutex> wakeLock(wakeMutex);
    done = true;
  }
  stopped.notify_all();
  waker.join();
  context_ = nullptr;
  port_ = 0;
  mg_exit_library();
}

void ShareServer::WakeListener() const {
  Socket socket(OpenSocket(SOCK_STREAM));
  if (!socket.Valid() || port_ == 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port_));
  if (options_.address.empty() || inet_pton(AF_INET, options_.address.c_str(), &to.sin_addr) != 1 ||
      to.sin_addr.s_addr == htonl(INADDR_ANY)) {
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ConnectWithin(socket.Fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to, 100);
}

std::string ShareServer::ListeningAddress() const {
  return (options_.address.empty() ? std::string("0.0.0.0") : options_.address) + ":" + std::to_string(port_);
}

ShareStatus ShareServer::Status() {
  ShareStatus s;
  const int64_t now = NowNs();
  s.version = VersionText();
  s.uptimeSeconds = static_cast<double>(now - startNs_) / 1e9;
  s.sender = hub_.Sender();
  s.picturesReceived = metrics_.picturesReceived.load(std::memory_order_relaxed);
  s.picturesShown = metrics_.picturesShown.load(std::memory_order_relaxed);
  s.picturesDropped = metrics_.picturesDropped.load(std::memory_order_relaxed);
  s.connections = metrics_.connections.load(std::memory_order_relaxed);
  s.handshakesFailed = metrics_.handshakesFailed.load(std::memory_order_relaxed);
  s.sendersRefused = metrics_.sendersRefused.load(std::memory_order_relaxed);
  s.discoveryAnswers = metrics_.discoveryAnswers.load(std::memory_order_relaxed);
  s.receivedPerSecond = receivedRate_.Update(now, s.picturesReceived);
  s.shownPerSecond = shownRate_.Update(now, s.picturesShown);
  s.decode = metrics_.decodeSeconds.Take();
  s.present = metrics_.presentSeconds.Take();
  if (facts_) s.facts = facts_();
  s.pictureViewers = hub_.PictureViewers();
  s.soundListeners = hub_.SoundListeners();
  s.bytesSent = bytesSent_.load(std::memory_order_relaxed);
  return s;
}

int ShareServer::BeginRequest(mg_connection* conn) {
  auto* self = static_cast<ShareServer*>(mg_get_user_data(mg_get_context(conn)));
  try {
    self->Handle(conn);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in ShareServer: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in ShareServer");
  }
  return 1;  // answered here; civetweb adds nothing of its own
}

int ShareServer::LogMessage(const mg_connection* conn, const char* message) {
  const mg_context* context = mg_get_context(conn);
  auto* self = context != nullptr ? static_cast<ShareServer*>(mg_get_user_data(context)) : nullptr;
  if (self != nullptr) LogErrorThinned(self->serverLines_, "Share server: " + Text(message));
  return 1;  // logged here, not on civetweb's own stderr
}

void ShareServer::Handle(mg_connection* conn) {
  const mg_request_info* info = mg_get_request_info(conn);
  auto view = [](const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); };
  const ShareRequest request{view(info->request_method),
                             view(info->local_uri_raw != nullptr ? info->local_uri_raw : info->request_uri),
                             view(info->query_string), view(mg_get_header(conn, "Cookie"))};
  const ShareDecision decision = RouteShareRequest(request, options_.token);
  switch (decision.route) {
    case ShareRoute::Page: return SendWhole(conn, decision, 200, "text/html; charset=utf-8", SharePageHtml(), false);
    case ShareRoute::Script:
      return SendWhole(conn, decision, 200, "text/javascript; charset=utf-8", ShareScript(), false);
    case ShareRoute::Style: return SendWhole(conn, decision, 200, "text/css; charset=utf-8", ShareStyle(), false);
    case ShareRoute::PictureStream: return StreamPictures(conn, decision);
    case ShareRoute::SoundStream: return StreamSound(conn, decision);
    case ShareRoute::Snapshot: {
      const SharedPicture newest = hub_.NewestPicture();
      if (!newest.jpeg) return SendRefusal(conn, decision, 404, "No picture yet: nobody is casting.\n");
      if (!SendHeaders(conn, decision, 200, "image/jpeg", static_cast<long long>(newest.jpeg->size()), true)) return;
      if (!decision.headOnly) Write(conn, newest.jpeg->data(), newest.jpeg->size());
      return;
    }
    case ShareRoute::Status: return SendWhole(conn, decision, 200, "application/json", StatusJson(Status()), true);
    case ShareRoute::Metrics:
      return SendWhole(conn, decision, 200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(Status()), true);
    case ShareRoute::Unauthorized:
      return SendRefusal(conn, decision, 401, "This view needs its token: open the address with ?token=...\n");
    case ShareRoute::MethodNotAllowed: return SendRefusal(conn, decision, 405, "Only GET and HEAD.\n");
    case ShareRoute::NotFound: return SendRefusal(conn, decision, 404, "Not found.\n");
  }
}

bool ShareServer::SendHeaders(mg_connection* conn, const ShareDecision& decision, int status, const char* type,
                              long long length, bool fresh) {
  mg_response_header_start(conn, status);
  mg_response_header_add(conn, "Content-Type", type, -1);
  if (length >= 0) mg_response_header_add(conn, "Content-Length", std::to_string(length).c_str(), -1);
  // Live answers must never come from a cache; the page's own files are checked each time.
  mg_response_header_add(conn, "Cache-Control", fresh ? "no-cache, no-store, must-revalidate" : "no-cache", -1);
  if (fresh) mg_response_header_add(conn, "Pragma", "no-cache", -1);
  mg_response_header_add(conn, "X-Content-Type-Options", "nosniff", -1);
  mg_response_header_add(conn, "Content-Security-Policy", CONTENT_SECURITY_POLICY, -1);
  mg_response_header_add(conn, "Referrer-Policy", "no-referrer", -1);
  const std::string date = HttpDate(static_cast<int64_t>(std::time(nullptr)));
  mg_response_header_add(conn, "Date", date.c_str(), -1);
  if (decision.setTokenCookie) {
    const std::string cookie =
        std::string(SHARE_TOKEN_COOKIE) + "=" + options_.token + "; Path=/; HttpOnly; SameSite=Strict";
    mg_response_header_add(conn, "Set-Cookie", cookie.c_str(), -1);
  }
  return mg_response_header_send(conn) == 0;
}

bool ShareServer::Write(mg_connection* conn, const void* data, size_t size) {
  if (size == 0) return true;
  const int written = mg_write(conn, data, size);
  if (written <= 0) return false;
  bytesSent_.fetch_add(static_cast<uint64_t>(written), std::memory_order_relaxed);
  return static_cast<size_t>(written) == size;
}

void ShareServer::SendWhole(mg_connection* conn, const ShareDecision& decision, int status, const char* type,
                            const std::string& body, bool fresh) {
  if (!SendHeaders(conn, decision, status, type, static_cast<long long>(body.size()), fresh)) return;
  if (!decision.headOnly) Write(conn, body.data(), body.size());
}

void ShareServer::SendRefusal(mg_connection* conn, const ShareDecision& decision, int status,
                              const std::string& text) {
  const mg_request_info* info = mg_get_request_info(conn);
  if (status != 404) {
    LogInfoThinned(refusedViewers_,
                   "Share viewer " + Text(info->remote_addr) + " answered " + std::to_string(status) + " " +
                       StatusText(status),
                   Text(info->remote_addr));
  }
  SendWhole(conn, decision, status, "text/plain; charset=utf-8", text, true);
}

void ShareServer::StreamPictures(mg_connection* conn, const ShareDecision& decision) {
  ShareHub::Seat<SharedPicture> seat = hub_.WatchPictures();
  if (!seat) {
    return SendRefusal(conn, decision, 503,
                       "Already " + std::to_string(ShareHub::MAX_VIEWERS) + " viewers; try again later.\n");
  }
  const std::string type = std::string("multipart/x-mixed-replace; boundary=") + BOUNDARY;
  if (!SendHeaders(conn, decision, 200, type.c_str(), -1, true) || decision.headOnly) return;
  for (;;) {
    std::optional<SharedPicture> picture = seat.queue().Pop(IDLE_WAIT);
    if (!picture) {
      if (seat.queue().Closed()) return;
      continue;
    }
    const ByteBuffer& jpeg = *picture->jpeg;
    const std::string head = std::string("--") + BOUNDARY + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                             std::to_string(jpeg.size()) + "\r\n\r\n";
    if (!Write(conn, head.data(), head.size()) || !Write(conn, jpeg.data(), jpeg.size()) || !Write(conn, "\r\n", 2)) {
      return;  // gone, or took nothing for the time-out
    }
  }
}

void ShareServer::StreamSound(mg_connection* conn, const ShareDecision& decision) {
  ShareHub::Seat<SharedSound> seat = hub_.ListenToSound();
  if (!seat) {
    return SendRefusal(conn, decision, 503,
                       "Already " + std::to_string(ShareHub::MAX_VIEWERS) + " listeners; try again later.\n");
  }
  // 16-bit little-endian mono samples at 16 kHz, as the sender sent them.
  if (!SendHeaders(conn, decision, 200, "application/octet-stream", -1, true) || decision.headOnly) return;
  for (;;) {
    std::optional<SharedSound> sound = seat.queue().Pop(IDLE_WAIT);
    if (!sound) {
      if (seat.queue().Closed()) return;
      continue;
    }
    if (!Write(conn, (*sound)->data(), (*sound)->size())) return;
  }
}

}  // namespace orrin
