#include "app/font_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/display_scale.h"
#include "support/log.h"

namespace orrin {

namespace {
constexpr int TITLE_FONT_HEIGHT = 48;
constexpr int TEXT_FONT_HEIGHT = 24;
const char* const CHINESE_FACE = "sans-serif:lang=zh-cn";
const char* const CHINESE_BOLD_FACE = "sans-serif:lang=zh-cn:weight=bold";
// Characters of the window's own texts: a face without them draws boxes.
const char32_t CHINESE_SAMPLE[] = U"投屏接受客户端等待连接设备息屏中已网";

// A read-only stream over bytes it shares: the font that reads it closes it, and the bytes
// go with the last of them.
struct SharedBytes {
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  Sint64 position = 0;
};

SharedBytes* StateOf(SDL_RWops* rw) { return static_cast<SharedBytes*>(rw->hidden.unknown.data1); }

SDL_RWops* StreamOver(std::shared_ptr<const std::vector<uint8_t>> bytes) {
  SDL_RWops* rw = SDL_AllocRW();
  if (rw == nullptr) return nullptr;
  auto state = std::make_unique<SharedBytes>();
  state->bytes = std::move(bytes);
  rw->type = SDL_RWOPS_UNKNOWN;
  rw->hidden.unknown.data1 = state.release();
  rw->size = [](SDL_RWops* self) -> Sint64 { return static_cast<Sint64>(StateOf(self)->bytes->size()); };
  rw->seek = [](SDL_RWops* self, Sint64 offset, int whence) -> Sint64 {
    SharedBytes* s = StateOf(self);
    const Sint64 size = static_cast<Sint64>(s->bytes->size());
    const Sint64 base = whence == RW_SEEK_SET ? 0 : whence == RW_SEEK_CUR ? s->position : size;
    const Sint64 target = base + offset;
    if (target < 0 || target > size) return SDL_SetError("seek out of the font's bytes");
    s->position = target;
    return target;
  };
  rw->read = [](SDL_RWops* self, void* out, size_t size, size_t count) -> size_t {
    SharedBytes* s = StateOf(self);
    if (size == 0) return 0;
    const size_t left = s->bytes->size() - static_cast<size_t>(s->position);
    const size_t whole = std::min(count, left / size);
    std::memcpy(out, s->bytes->data() + s->position, whole * size);
    s->position += static_cast<Sint64>(whole * size);
    return whole;
  };
  rw->write = [](SDL_RWops*, const void*, size_t, size_t) -> size_t { return 0; };
  rw->close = [](SDL_RWops* self) -> int {
    std::unique_ptr<SharedBytes> owned(StateOf(self));
    SDL_FreeRW(self);
    return 0;
  };
  return rw;
}

bool CoversChinese(TTF_Font* font) {
  for (const char32_t* c = CHINESE_SAMPLE; *c != 0; ++c) {
    if (!TTF_GlyphIsProvided32(font, *c)) return false;
  }
  return true;
}
}  // namespace

FontPtr OpenFontWithCellHeight(const FontFace& face, int cellHeight) {
  FontPtr font;
  if (face.bytes) {
    // The font closes the stream when it is closed, and with it lets the bytes go.
    if (SDL_RWops* stream = StreamOver(face.bytes)) font.reset(TTF_OpenFontIndexRW(stream, 1, cellHeight, face.index));
  } else {
    font.reset(TTF_OpenFontIndex(face.file.c_str(), cellHeight, face.index));
  }
  if (!font) return font;
  // A point size sets the em square; CJK faces have tall ascenders, so the line would be
  // about 1.45 times the size asked for. Scale once so the whole line has the height.
  const int measured = TTF_FontHeight(font.get());
  if (measured > 0 && measured != cellHeight) {
    const int size = static_cast<int>(std::lround(double(cellHeight) * cellHeight / measured));
    TTF_SetFontSize(font.get(), size > 0 ? size : 1);
  }
  return font;
}

FontSet FontSet::Open(double scale) {
  FontSet set;
  set.scale = scale;
  const auto regular = FindFontFace(CHINESE_FACE);
  if (!regular) {
    LogError(NoFaceFoundLine(CHINESE_FACE));
    return set;
  }
  set.text = OpenFontWithCellHeight(*regular, Scaled(TEXT_FONT_HEIGHT, scale));
  if (set.text && !CoversChinese(set.text.get())) {
    // fontconfig always names its best face, even one without a single Chinese glyph.
    LogError("No installed font covers the Chinese texts; drawing with " + regular->file +
             ", which shows boxes for them. " + ChineseFontHint());
  }
  auto bold = FindFontFace(CHINESE_BOLD_FACE);
  const bool hasBoldFace = bold && (bold->file != regular->file || bold->index != regular->index);
  set.title = OpenFontWithCellHeight(hasBoldFace ? *bold : *regular, Scaled(TITLE_FONT_HEIGHT, scale));
  // Without a bold face of its own, let FreeType embolden the regular one.
  if (set.title && !hasBoldFace) TTF_SetFontStyle(set.title.get(), TTF_STYLE_BOLD);
  if (!set.text || !set.title) {
    LogError("Failed to open font " + regular->file + ": " + TTF_GetError());
  }
  return set;
}

}  // namespace orrin
