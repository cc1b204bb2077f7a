#include "support/windows_api.h"
// After <windows.h>, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "support/user_dirs.h"

namespace orrin {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == 0) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back();  // the terminating NUL
  return narrow;
}

// Environment values in UTF-8 (the narrow getenv gives the ANSI code page's bytes).
std::string Env(const std::string& name) {
  const std::wstring wideName = Wide(name);
  const wchar_t* value = _wgetenv(wideName.c_str());
  return Utf8(value);
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = Utf8(path);
  CoTaskMemFree(path);  // also when the call failed, as it asks
  return folder;
}

}  // namespace

std::string UserDir(const std::string& key) {
  std::string folder = Env(key);
  if (folder.empty()) {
    if (key == "XDG_VIDEOS_DIR") folder = KnownFolder(FOLDERID_Videos);
    if (key == "XDG_PICTURES_DIR") folder = KnownFolder(FOLDERID_Pictures);
  }
  if (IsFolder(folder)) return folder;
  const std::string home = Env("USERPROFILE");
  return IsFolder(home) ? home : ".";
}

std::FILE* OpenFileForWriting(const std::string& path) { return _wfopen(Wide(path).c_str(), L"wb"); }

void RemoveFile(const std::string& path) { _wremove(Wide(path).c_str()); }

}  // namespace orrin
