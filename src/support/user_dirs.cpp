#include "support/user_dirs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "support/local_time.h"

namespace orrin {

std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_directory(PathFromUtf8(path), error);
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(path), error));
}

std::string ParseUserDirs(const std::string& contents, const std::string& key, const std::string& home) {
  std::istringstream lines(contents);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(start + key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    found = value;  // the last line wins, as the shell that sources the file would have it
  }
  return found;
}

std::string DatedName(std::time_t when, const std::string& extension) {
  const std::tm local = LocalTime(when);
  char text[64];
  std::strftime(text, sizeof text, "orrin-%Y%m%d-%H%M%S", &local);
  return text + extension;
}

std::string NumberedPath(const std::string& path, int n) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && dot != 0 && (slash == std::string::npos || dot > slash + 1);
  const size_t at = hasExtension ? dot : path.size();
  return path.substr(0, at) + "-" + std::to_string(n) + path.substr(at);
}

std::string UnusedPath(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  if (!PathExists(path)) return path;
  for (int n = 2;; ++n) {
    std::string numbered = NumberedPath(path, n);
    if (!PathExists(numbered)) return numbered;
  }
}

bool WriteNewFile(const std::string& path, const ByteBuffer& bytes, std::string& error) {
  if (PathExists(path)) {
    error = std::strerror(EEXIST);
    return false;
  }
  std::FILE* file = OpenFileForWriting(path);
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = std::strerror(!written ? writeErrno : errno);
    RemoveFile(path);  // half a picture is no picture
    return false;
  }
  return true;
}

}  // namespace orrin
