#pragma once

#include <optional>
#include <string>

#include "app/sdl_handles.h"

namespace orrin {

// A font file and the face inside it (collections such as Noto Sans CJK hold several).
struct FontFace {
  std::string file;
  int index = 0;
};

// Asks fontconfig for the best face for `pattern` (for example "sans-serif:lang=zh-cn").
std::optional<FontFace> FindFontFace(const std::string& pattern);

// Opens `face` so that its cell height (ascent + descent) is `cellHeight` pixels, the way
// the window's text sizes are meant: the whole line, not the em square.
FontPtr OpenFontWithCellHeight(const FontFace& face, int cellHeight);

// The two fonts the window draws with, opened once for the life of the window.
struct FontSet {
  FontPtr title;  // 48 px, bold
  FontPtr text;   // 24 px, normal

  // Needs TTF_Init. Null members when no face covering Chinese is installed; the window
  // then draws its screens without text instead of failing.
  static FontSet Open();
};

}  // namespace orrin
