#include <gtest/gtest.h>

#include "support/utf8.h"

namespace orrin {
namespace {

const std::string FFFD = "\xEF\xBF\xBD";

TEST(Utf8, ValidTextPassesUnchanged) {
  for (std::string text : {std::string(""), std::string("OFFICE-PC"), std::string("Tavoli网投屏接受客户端 - 等待连接..."),
                           std::string("\xF0\x9F\x98\x80 emoji"), std::string("\xF4\x8F\xBF\xBF")}) {
    EXPECT_EQ(SanitizeUtf8(text), text);
  }
}

TEST(Utf8, IllFormedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(SanitizeUtf8("a\x80z"), "a" + FFFD + "z");                       // stray continuation
  EXPECT_EQ(SanitizeUtf8("\xC3"), FFFD);                                     // truncated at the end
  EXPECT_EQ(SanitizeUtf8("\xE4\xB8z"), FFFD + "z");                          // truncated 3-byte: one FFFD
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), FFFD + FFFD);                          // overlong lead
  EXPECT_EQ(SanitizeUtf8("\xE0\x80\x80"), FFFD + FFFD + FFFD);               // overlong 3-byte
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), FFFD + FFFD + FFFD);               // surrogate
  EXPECT_EQ(SanitizeUtf8("\xF4\x90\x80\x80"), FFFD + FFFD + FFFD + FFFD);    // past U+10FFFF
  EXPECT_EQ(SanitizeUtf8("\xFF"), FFFD);
  EXPECT_EQ(SanitizeUtf8("GBK \xD6\xD0"), "GBK " + FFFD + FFFD);  // "中" in GBK
}

}  // namespace
}  // namespace orrin
