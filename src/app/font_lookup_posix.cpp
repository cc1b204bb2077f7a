// Faces through fontconfig.
#include <fontconfig/fontconfig.h>

#include "app/font_set.h"

namespace orrin {

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
        found = FontFace{reinterpret_cast<const char*>(file), index, nullptr};
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(request);
  }
  FcConfigDestroy(config);
  return found;
}

std::string NoFaceFoundLine(const std::string& pattern) {
  return "No font found through fontconfig for " + pattern + " (install fonts-noto-cjk); screens are drawn without text";
}

std::string ChineseFontHint() {
  return "Install fonts-noto-cjk (Fedora: google-noto-sans-cjk-fonts, Arch: noto-fonts-cjk)";
}

}  // namespace orrin
