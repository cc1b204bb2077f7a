#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/bytes.h"

namespace orrin {

// The user's own folders as the desktop names them: `key` is "XDG_VIDEOS_DIR" or
// "XDG_PICTURES_DIR". The environment variable of that name wins, then the desktop's own
// (xdg-user-dirs: the line in $XDG_CONFIG_HOME/user-dirs.dirs, ~/.config/user-dirs.dirs;
// Windows: the known folders Videos and Pictures); a folder that does not exist falls back
// to the home folder, and that to the current one. UTF-8.
std::string UserDir(const std::string& key);

// The folder `key` names in the text of a user-dirs.dirs file (`KEY="$HOME/Videos"`, with
// $HOME expanded); empty when the file does not name it.
std::string ParseUserDirs(const std::string& contents, const std::string& key, const std::string& home);

// File names are UTF-8 everywhere, whatever the platform's own encoding of paths.
std::filesystem::path PathFromUtf8(const std::string& text);
bool IsFolder(const std::string& path);
bool PathExists(const std::string& path);

// "orrin-20261209-015000" + extension, from local time.
std::string DatedName(std::time_t when, const std::string& extension);

// `path` with "-n" before its extension ("cast.mkv", 2 -> "cast-2.mkv").
std::string NumberedPath(const std::string& path, int n);

// `folder`/`name`, or its first numbered form that does not exist yet.
std::string UnusedPath(const std::string& folder, const std::string& name);

// Writes `bytes` into a new file `path` (never over an existing one). False with `error` set.
bool WriteNewFile(const std::string& path, const ByteBuffer& bytes, std::string& error);

// What each platform provides for the above, with UTF-8 paths: a file opened for binary
// writing (null with errno set), and a file removed.
std::FILE* OpenFileForWriting(const std::string& path);
void RemoveFile(const std::string& path);

}  // namespace orrin
