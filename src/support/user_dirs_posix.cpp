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

std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

}  // namespace orrin
