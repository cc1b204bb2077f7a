#include "net/websocket/handshake.h"

#include <gtest/gtest.h>

#include "ws_test_support.h"

namespace orrin {
namespace {

using test::SAMPLE_ACCEPT;
using test::SAMPLE_KEY;

TEST(Handshake, RfcExampleKeyGivesItsAcceptValueAndTheExactResponse) {
  EXPECT_EQ(AcceptKeyFor(SAMPLE_KEY), SAMPLE_ACCEPT);
  EXPECT_EQ(BuildHandshakeResponse(SAMPLE_ACCEPT),
            "HTTP/1.1 101 Switching Protocols\r\n"
            "Upgrade: websocket\r\n"
            "Connection: Upgrade\r\n"
            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
            "\r\n");
}

TEST(Handshake, Sha1AndBase64MatchTheirStandardVectors) {
  // FIPS 180 "abc" and the RFC 4648 test strings.
  EXPECT_EQ(Base64Encode(ComputeSHA1("abc")), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  EXPECT_EQ(ComputeSHA1("").size(), 20u);
  auto b64 = [](const std::string& s) { return Base64Encode(ByteBuffer(s.begin(), s.end())); };
  EXPECT_EQ(b64(""), "");
  EXPECT_EQ(b64("f"), "Zg==");
  EXPECT_EQ(b64("fo"), "Zm8=");
  EXPECT_EQ(b64("foobar"), "Zm9vYmFy");
}

TEST(Handshake, KeySearchRules) {
  struct Case {
    std::string request;
    KeyStatus status;
    std::string key;
  } cases[] = {
      {test::UpgradeRequest(), KeyStatus::Found, SAMPLE_KEY},
      // Case-sensitive: the lower-case header is not ours.
      {"GET / HTTP/1.1\r\nsec-websocket-key: abc\r\n\r\n", KeyStatus::NotFound, ""},
      // Spaces and tabs after the colon are skipped; trailing spaces stay part of the key.
      {"GET /\r\nSec-WebSocket-Key: \t \tkey  \r\n\r\n", KeyStatus::Found, "key  "},
      // LF ends the key when there is no CR after it; a CR anywhere later wins over an LF.
      {"GET /\nSec-WebSocket-Key: k1\nX: y\n\n", KeyStatus::Found, "k1"},
      {"GET /\nSec-WebSocket-Key: k1\nX: y\r\n", KeyStatus::Found, "k1\nX: y"},
      // No CR or LF after the key.
      {"GET /\r\nSec-WebSocket-Key: abc", KeyStatus::InvalidFormat, ""},
      // First occurrence; an empty key is accepted.
      {"Sec-WebSocket-Key:\r\nSec-WebSocket-Key: second\r\n", KeyStatus::Found, ""},
      {"", KeyStatus::NotFound, ""},
  };
  for (const Case& c : cases) {
    KeySearch found = ExtractWebSocketKey(c.request);
    EXPECT_EQ(found.status, c.status) << c.request;
    EXPECT_EQ(found.key, c.key) << c.request;
  }
  EXPECT_NE(AcceptKeyFor(SAMPLE_KEY + "  "), SAMPLE_ACCEPT);
}

TEST(Handshake, RequestEndsAtItsFirstZeroByteAndIsLoggedCutTo200) {
  std::string withNul = std::string("GET / HTTP/1.1\r\n\0", 17) + "Sec-WebSocket-Key: abc\r\n\r\n";
  EXPECT_EQ(HandshakeRequestText(withNul), "GET / HTTP/1.1\r\n");
  EXPECT_EQ(ExtractWebSocketKey(HandshakeRequestText(withNul)).status, KeyStatus::NotFound);

  std::string longRequest(300, 'x');
  EXPECT_EQ(HandshakeRequestLogLine(longRequest), "Received handshake request: " + std::string(200, 'x') + "...");
  EXPECT_EQ(HandshakeRequestLogLine("GET"), "Received handshake request: GET...");
  // The sender's bytes stay on one line, and its key too.
  EXPECT_EQ(HandshakeRequestLogLine("GET / HTTP/1.1\r\nX: \x1B[2J\r\n"),
            "Received handshake request: GET / HTTP/1.1\\r\\nX: \\x1B[2J\\r\\n...");
  EXPECT_EQ(KeyLogLine("k\n[12:00:00] ERROR: x"), "Extracted WebSocket-Key: k\\n[12:00:00] ERROR: x");
  EXPECT_EQ(KeyLogLine(std::string(201, 'k')), "Extracted WebSocket-Key: " + std::string(200, 'k') + "...");
}

TEST(Handshake, RequestIsCompleteAtTheBlankLineOrWhenTheBufferIsFull) {
  EXPECT_FALSE(HandshakeRequestComplete("GET / HTTP/1.1\r\nHost: x\r\n"));
  EXPECT_TRUE(HandshakeRequestComplete("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_FALSE(HandshakeRequestComplete("GET /\n\n"));
  EXPECT_FALSE(HandshakeRequestComplete(std::string(MAX_HANDSHAKE_REQUEST - 1, 'a')));
  EXPECT_TRUE(HandshakeRequestComplete(std::string(MAX_HANDSHAKE_REQUEST, 'a')));
}

}  // namespace
}  // namespace orrin
