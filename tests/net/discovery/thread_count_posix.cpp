// Threads of this process, as Linux lists them in /proc.
#include <fstream>
#include <string>
#include <thread>

#include "probe_client.h"

namespace orrin::test {

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Threads:") {
      int n = 0;
      status >> n;
      return n;
    }
  }
  return -1;
}

int BaselineThreadCount() {
  std::thread([] {}).join();
  int count = -1;
  WaitUntil([&] {
    int before = ThreadCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    count = ThreadCount();
    return count == before;
  });
  return count;
}

}  // namespace orrin::test
