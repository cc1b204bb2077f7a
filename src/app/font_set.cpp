#include "app/font_set.h"

#include <fontconfig/fontconfig.h>

#include <cmath>

#include "support/log.h"

namespace orrin {

namespace {
constexpr int TITLE_FONT_HEIGHT = 48;
constexpr int TEXT_FONT_HEIGHT = 24;
const char* const CHINESE_FACE = "sans-serif:lang=zh-cn";
const char* const CHINESE_BOLD_FACE = "sans-serif:lang=zh-cn:weight=bold";
// Characters of the window's own texts: a face without them draws boxes.
const char32_t CHINESE_SAMPLE[] = U"投屏接受客户端等待连接设备息屏中已网";

bool CoversChinese(TTF_Font* font) {
  for (const char32_t* c = CHINESE_SAMPLE; *c != 0; ++c) {
    if (!TTF_GlyphIsProvided32(font, *c)) return false;
  }
  return true;
}
}  // namespace

std::optional<FontFace> FindFontFace(const std::string& pattern) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return std::nullopt;
  std::optional<FontFace> found;
  FcPattern* request = FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str()));
  if (request != nullptr) {
    FcConfigSubstitute(config, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, request, &result);
    if (match != nullptr) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        found = FontFace{reinterpret_cast<const char*>(file), index};
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(request);
  }
  FcConfigDestroy(config);
  return found;
}

FontPtr OpenFontWithCellHeight(const FontFace& face, int cellHeight) {
  FontPtr font(TTF_OpenFontIndex(face.file.c_str(), cellHeight, face.index));
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

FontSet FontSet::Open() {
  FontSet set;
  const auto regular = FindFontFace(CHINESE_FACE);
  if (!regular) {
    LogError(std::string("No font found through fontconfig for ") + CHINESE_FACE +
             " (install fonts-noto-cjk); screens are drawn without text");
    return set;
  }
  set.text = OpenFontWithCellHeight(*regular, TEXT_FONT_HEIGHT);
  if (set.text && !CoversChinese(set.text.get())) {
    // fontconfig always names its best face, even one without a single Chinese glyph.
    LogError("No installed font covers the Chinese texts; drawing with " + regular->file +
             ", which shows boxes for them. Install fonts-noto-cjk (Fedora: google-noto-sans-cjk-fonts, "
             "Arch: noto-fonts-cjk)");
  }
  auto bold = FindFontFace(CHINESE_BOLD_FACE);
  const bool hasBoldFace = bold && (bold->file != regular->file || bold->index != regular->index);
  set.title = OpenFontWithCellHeight(hasBoldFace ? *bold : *regular, TITLE_FONT_HEIGHT);
  // Without a bold face of its own, let FreeType embolden the regular one.
  if (set.title && !hasBoldFace) TTF_SetFontStyle(set.title.get(), TTF_STYLE_BOLD);
  if (!set.text || !set.title) {
    LogError("Failed to open font " + regular->file + ": " + TTF_GetError());
  }
  return set;
}

}  // namespace orrin
