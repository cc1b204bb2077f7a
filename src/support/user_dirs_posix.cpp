#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/user_dirs.h"

namespace orrin {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string UserDir(const std::string& key) {
  const std::string home = Env("HOME");
  std::string folder = Env(key.c_str());
  if (folder.empty()) {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() && !home.empty()) config = home + "/.config";
    std::ifstream file(config + "/user-dirs.dirs");
    std::stringstream contents;
    contents << file.rdbuf();
    folder = ParseUserDirs(contents.str(), key, home);
  }
  if (IsFolder(folder)) return folder;
  return IsFolder(home) ? home : ".";
}

bool WriteNewFile(const std::string& path, const ByteBuffer& bytes, std::string& error) {
  if (PathExists(path)) {
    error = std::strerror(EEXIST);
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = std::strerror(!written ? writeErrno : errno);
    std::remove(path.c_str());  // half a picture is no picture
    return false;
  }
  return true;
}

}  // namespace orrin
