// The ceiling for ingest: a plain TCP socket that answers the WebSocket handshake and then
// reads every byte into one buffer without looking at it. Nothing can take bytes off a
// loopback socket for less.
//
// usage: tcp_sink PORT   (serves one connection, prints what it took, exits)

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/socket.h"
#include "net/websocket/handshake.h"

int main(int argc, char** argv) {
  using namespace orrin;
  if (argc != 2) {
    std::fprintf(stderr, "usage: tcp_sink PORT\n");
    return 2;
  }
  Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
  SetIntOption(listener.Fd(), SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  if (::bind(listener.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Fd(), 1) != 0) {
    std::perror("tcp_sink: bind");
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);
  Socket client(::accept(listener.Fd(), nullptr, nullptr));

  // The request ends at its blank line; the sender waits for our answer before any frame.
  std::string request;
  char c;
  while (request.find("\r\n\r\n") == std::string::npos && ::recv(client.Fd(), &c, 1, 0) == 1) request.push_back(c);
  KeySearch key = ExtractWebSocketKey(request);
  const std::string response = BuildHandshakeResponse(AcceptKeyFor(key.key));
  SendOnce(client.Fd(), response.data(), response.size());

  std::vector<char> buffer(1 << 20);
  unsigned long long bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long n; (n = ::recv(client.Fd(), buffer.data(), buffer.size(), 0)) > 0;) bytes += static_cast<unsigned long long>(n);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("tcp sink: %llu bytes in %.3f s, %.1f MB/s\n", bytes, seconds, bytes / seconds / 1e6);
  return 0;
}
