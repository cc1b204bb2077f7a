// Descriptors and threads of this process, as Linux lists them in /proc.
#include <dirent.h>

#include <thread>

#include "ws_test_support.h"

namespace orrin::test {

namespace {
int CountEntries(const char* path) {
  int n = 0;
  DIR* dir = opendir(path);
  if (dir == nullptr) return -1;
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return n;
}
}  // namespace

int OpenDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }  // minus the listing's own
int ThreadCount() { return CountEntries("/proc/self/task"); }

int BaselineThreadCount() {
  std::thread([] {}).join();
  return ThreadCount();
}

}  // namespace orrin::test
