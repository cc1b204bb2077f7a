#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace orrin::test {

// Records every log line the code under test writes, while it is alive.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  struct Line {
    bool isError;
    std::string text;  // the message, without the time stamp, "ERROR: " and the line feed
  };

  std::vector<Line> Lines() const;
  // Number of lines whose message contains `part`.
  int Count(const std::string& part) const;
  bool Contains(const std::string& part) const { return Count(part) > 0; }
  // Waits until `count` lines contain `part`; false on time-out.
  bool WaitFor(const std::string& part, int count = 1,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Index of the first line containing `part`, or -1.
  int IndexOf(const std::string& part) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Line> lines_;
};

}  // namespace orrin::test
