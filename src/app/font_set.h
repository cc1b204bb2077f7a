#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/sdl_handles.h"

namespace orrin {

// A font file and the face inside it (collections such as Noto Sans CJK hold several).
// Where the platform hands out a font's bytes rather than its file (GDI), `bytes` holds
// them and `file` only names them, for messages and to tell two faces apart.
struct FontFace {
  std::string file;
  int index = 0;
  std::shared_ptr<const std::vector<uint8_t>> bytes;
};

// Asks the platform for the best face for `pattern` (a fontconfig pattern, for example
// "sans-serif:lang=zh-cn" or "sans-serif:lang=zh-cn:weight=bold"; on Windows GDI is asked
// for a Chinese face, bold when the pattern says so).
std::optional<FontFace> FindFontFace(const std::string& pattern);

// The platform's words for a missing face, and for how to get one that covers Chinese.
std::string NoFaceFoundLine(const std::string& pattern);
std::string ChineseFontHint();

// Opens `face` (its file, or its bytes, which the font then keeps for as long as it is
// open) so that its cell height (ascent + descent) is `cellHeight` pixels, the way
// the window's text sizes are meant: the whole line, not the em square.
FontPtr OpenFontWithCellHeight(const FontFace& face, int cellHeight);

// The two fonts the window draws with, opened once for the life of the window.
struct FontSet {
  FontPtr title;     // 48 px, bold (at scale 1)
  FontPtr text;      // 24 px, normal (at scale 1)
  double scale = 0;  // what they were opened for; 0 before

  // Needs TTF_Init. Null members when no face covering Chinese is installed; the window
  // then draws its screens without text instead of failing. `scale` as in display_scale.h.
  static FontSet Open(double scale = 1.0);
};

}  // namespace orrin
