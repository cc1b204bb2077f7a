// Faces through GDI: whatever face Windows (or Wine) maps for a Chinese font is asked for
// its bytes, which SDL_ttf then reads from memory.
#include "support/windows_api.h"

#include "app/font_collection.h"
#include "app/font_set.h"

namespace orrin {
namespace {

// In order of preference; the first is on every Chinese Windows since Vista.
const wchar_t* const CHINESE_FACES[] = {L"Microsoft YaHei", L"SimHei", L"SimSun"};
constexpr DWORD COLLECTION_TAG = 0x66637474;  // 'ttcf' as GetFontData takes it (little-endian)

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
  }
  return narrow;
}

class MemoryDc {
 public:
  MemoryDc() : dc_(CreateCompatibleDC(nullptr)) {}
  ~MemoryDc() {
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A GDI font selected into a DC for as long as it lives.
class SelectedFont {
 public:
  SelectedFont(HDC dc, const wchar_t* face, bool bold) : dc_(dc) {
    LOGFONTW request{};
    request.lfHeight = -48;
    request.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    request.lfCharSet = GB2312_CHARSET;
    request.lfOutPrecision = OUT_TT_ONLY_PRECIS;  // GetFontData needs a TrueType/OpenType face
    request.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(request.lfFaceName, face, LF_FACESIZE);
    font_ = CreateFontIndirectW(&request);
    if (font_ != nullptr) previous_ = SelectObject(dc_, font_);
  }
  ~SelectedFont() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    if (font_ != nullptr) DeleteObject(font_);
  }
  SelectedFont(const SelectedFont&) = delete;
  SelectedFont& operator=(const SelectedFont&) = delete;
  bool ok() const { return font_ != nullptr && previous_ != nullptr; }

  // The face GDI actually chose, which is another one when the asked-for face is missing.
  std::wstring ChosenFace() const {
    wchar_t name[LF_FACESIZE] = {};
    const int length = GetTextFaceW(dc_, LF_FACESIZE, name);
    return length > 0 ? std::wstring(name) : std::wstring();
  }

  // The whole file of the face: a collection's whole file under the 'ttcf' tag, otherwise
  // the font file itself. Empty when GDI has no bytes for it (not an outline font).
  std::vector<uint8_t> Bytes(bool& collection) const {
    collection = true;
    DWORD size = GetFontData(dc_, COLLECTION_TAG, 0, nullptr, 0);
    if (size == GDI_ERROR || size == 0) {
      collection = false;
      size = GetFontData(dc_, 0, 0, nullptr, 0);
    }
    if (size == GDI_ERROR || size == 0) return {};
    std::vector<uint8_t> bytes(size);
    if (GetFontData(dc_, collection ? COLLECTION_TAG : 0, 0, bytes.data(), size) != size) return {};
    return bytes;
  }

 private:
  HDC dc_;
  HFONT font_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

std::optional<FontFace> FaceFromGdi(HDC dc, const wchar_t* asked, bool bold, bool mustMatch) {
  SelectedFont font(dc, asked, bold);
  if (!font.ok()) return std::nullopt;
  const std::wstring chosen = font.ChosenFace();
  if (mustMatch && CompareStringOrdinal(chosen.c_str(), -1, asked, -1, TRUE) != CSTR_EQUAL) return std::nullopt;
  bool collection = false;
  auto bytes = std::make_shared<std::vector<uint8_t>>(font.Bytes(collection));
  if (bytes->empty()) return std::nullopt;
  const std::string name = Utf8(chosen);
  int index = 0;
  if (collection) {
    // The face by its family name; the collection's first face when no name matches.
    index = CollectionFaceIndex(*bytes, name);
    if (index < 0) index = CollectionFaceIndex(*bytes, Utf8(asked));
    if (index < 0) index = 0;
  }
  // The size tells a real bold file from the regular one GDI would only embolden.
  FontFace face;
  face.file = name + " (" + std::to_string(bytes->size()) + " bytes, face " + std::to_string(index) + ")";
  face.index = index;
  face.bytes = std::move(bytes);
  return face;
}

}  // namespace

std::optional<FontFace> FindFontFace(const std::string& pattern) {
  const bool bold = pattern.find("weight=bold") != std::string::npos;
  MemoryDc dc;
  if (dc.get() == nullptr) return std::nullopt;
  for (const wchar_t* face : CHINESE_FACES) {
    if (auto found = FaceFromGdi(dc.get(), face, bold, true)) return found;
  }
  // None of them by name: whatever GDI maps for a Chinese face.
  return FaceFromGdi(dc.get(), CHINESE_FACES[0], bold, false);
}

std::string NoFaceFoundLine(const std::string&) {
  return "No TrueType font found through GDI for Chinese text (Microsoft YaHei, SimHei, SimSun); screens are "
         "drawn without text";
}

std::string ChineseFontHint() {
  return "Add the Chinese supplemental fonts (Settings, Apps, Optional features)";
}

}  // namespace orrin
