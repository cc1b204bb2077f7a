#pragma once

#include <string>
#include <string_view>

namespace orrin {

// Text that reaches the screen: valid UTF-8 passes unchanged, every ill-formed sequence
// (stray continuation byte, truncated or overlong sequence, surrogate, value past U+10FFFF)
// becomes one U+FFFD per maximal ill-formed subpart, as Unicode recommends.
std::string SanitizeUtf8(std::string_view text);

// Length of the well-formed sequence starting at text[i], or the length of the maximal
// ill-formed subpart there (at least 1) as a negative number.
int Utf8SequenceLength(std::string_view text, size_t i);

}  // namespace orrin
