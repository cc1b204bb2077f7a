// A peer a developer might have picked instead of writing a frame reader: Boost.Beast's
// WebSocket stream, reading whole messages into one flat buffer that is reused.
//
// usage: beast_sink PORT   (serves one connection, prints what it took, exits)

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: beast_sink PORT\n");
    return 2;
  }
  try {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                             static_cast<unsigned short>(std::atoi(argv[1]))));
    std::printf("listening\n");
    std::fflush(stdout);
    beast::websocket::stream<tcp::socket> ws(acceptor.accept());
    ws.read_message_max(64 * 1024 * 1024);
    ws.accept();
    beast::flat_buffer buffer;
    unsigned long long bytes = 0, messages = 0;
    const auto start = std::chrono::steady_clock::now();
    beast::error_code error;
    while (true) {
      const size_t n = ws.read(buffer, error);
      if (error) break;
      bytes += n;
      ++messages;
      buffer.consume(buffer.size());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("beast sink: %llu messages, %llu bytes in %.3f s, %.1f MB/s\n", messages, bytes, seconds,
                bytes / seconds / 1e6);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beast_sink: %s\n", e.what());
    return 1;
  }
}
