#include <gtest/gtest.h>

#include <string>

#include "support/log_escape.h"

namespace orrin {
namespace {

using namespace std::string_literals;

TEST(EscapeForLog, ControlBytesBecomeEscapes) {
  EXPECT_EQ(EscapeForLog("a\rb\nc\td"), "a\\rb\\nc\\td");
  EXPECT_EQ(EscapeForLog("\x00\x01\x1F\x7F"s), "\\x00\\x01\\x1F\\x7F");
  // A forged line and a terminal's colour, clear-screen and title (OSC ... BEL) sequences.
  EXPECT_EQ(EscapeForLog("x\r\n[12:00:00] ERROR: Disk failure"), "x\\r\\n[12:00:00] ERROR: Disk failure");
  EXPECT_EQ(EscapeForLog("\x1B[2J\x1B]0;owned\x07"), "\\x1B[2J\\x1B]0;owned\\x07");
  EXPECT_EQ(EscapeForLog("back\\slash"), "back\\\\slash");
}

TEST(EscapeForLog, Utf8PassesC1AndIllFormedBytesAreEscaped) {
  EXPECT_EQ(EscapeForLog("设备 é ok ~"), "设备 é ok ~");
  EXPECT_EQ(EscapeForLog("\xC2\x9B" "31m"), "\\xC2\\x9B31m");      // C1 CSI as UTF-8
  EXPECT_EQ(EscapeForLog("\xC2\x85|\xC2\xA0"), "\\xC2\\x85|\xC2\xA0");  // NEL escaped, NBSP kept
  EXPECT_EQ(EscapeForLog("\x9B\x85"), "\\x9B\\x85");                 // lone C1 bytes: ill-formed
  EXPECT_EQ(EscapeForLog("\xFF\xC0\xAF"), "\\xFF\\xC0\\xAF");        // never valid; overlong '/'
  EXPECT_EQ(EscapeForLog("\xED\xA0\x80"), "\\xED\\xA0\\x80");        // surrogate
  EXPECT_EQ(EscapeForLog("\xE8\xAE" "A"), "\\xE8\\xAEA");            // truncated, then ASCII
}

TEST(EscapeForLog, CutIsMadeBeforeEscaping) {
  // 199 bytes, then the first of the three bytes of 设: the cut leaves a partial sequence.
  const std::string request = std::string(199, 'x') + "设\r\n";
  EXPECT_EQ(EscapeForLogCut(request, 200), std::string(199, 'x') + "\\xE8...");
  // Escapes do not count against the cut: 200 CR bytes give 200 escapes.
  std::string escapes;
  for (int i = 0; i < 200; ++i) escapes += "\\r";
  EXPECT_EQ(EscapeForLogCut(std::string(300, '\r'), 200), escapes + "...");
  EXPECT_EQ(EscapeForLogCut("short\n", 200), "short\\n");
}

}  // namespace
}  // namespace orrin
