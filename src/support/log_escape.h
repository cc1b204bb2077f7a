#pragma once

#include <string>
#include <string_view>

namespace orrin {

// Bytes that came from outside (a sender's request, its key) made safe for one log line:
// no byte of theirs may end our line, start a forged one, or reach a terminal as a control
// sequence. CR, LF and tab become \r, \n and \t; every other C0 byte, DEL and the C1
// controls (as UTF-8, U+0080 to U+009F) become \xNN per byte; each byte of an ill-formed
// UTF-8 sequence becomes \xNN; a backslash is doubled so the escaping reads back
// unambiguously. Everything else, valid UTF-8 included, passes unchanged.
std::string EscapeForLog(std::string_view bytes);

// The first `maxBytes` bytes of `bytes`, cut before escaping (a cut inside a UTF-8
// sequence leaves its bytes escaped), and "..." after them when something was cut.
std::string EscapeForLogCut(std::string_view bytes, size_t maxBytes);

}  // namespace orrin
