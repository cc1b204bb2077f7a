#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log.h"

namespace orrin {
namespace {

TEST(LogLine, LayoutOfInformationAndErrorLines) {
  EXPECT_EQ(FormatLogLine(9, 5, 3, false, "设备发现服务已停止"), "[09:05:03] 设备发现服务已停止\n");
  EXPECT_EQ(FormatLogLine(23, 59, 7, true, "Failed to start WebSocket server"),
            "[23:59:07] ERROR: Failed to start WebSocket server\n");
  EXPECT_EQ(FormatLogLine(0, 0, 9, false, "x"), "[00:00:09] x\n");

  const std::string message = "收到关闭帧 \xB4\xA5 raw bytes";  // not even valid UTF-8: passed through
  EXPECT_EQ(FormatLogLine(12, 0, 0, false, message).size(), message.size() + 12);
  EXPECT_EQ(FormatLogLine(12, 0, 0, true, message).size(), message.size() + 19);
}

TEST(LogLine, EmptyMessageAndTrailingLineFeed) {
  EXPECT_EQ(FormatLogLine(1, 2, 3, false, ""), "[01:02:03] \n");
  EXPECT_EQ(FormatLogLine(1, 2, 3, true, ""), "[01:02:03] ERROR: \n");
  EXPECT_EQ(FormatLogLine(1, 2, 3, false, "a\n"), "[01:02:03] a\n\n");
}

// Runs `body` with fd 1 and 2 sent to two temporary files and returns what each received.
std::pair<std::string, std::string> CaptureStreams(const std::function<void()>& body) {
  char outPath[] = "/tmp/orrin-log-out-XXXXXX";
  char errPath[] = "/tmp/orrin-log-err-XXXXXX";
  int outFd = mkstemp(outPath);
  int errFd = mkstemp(errPath);
  fflush(stdout);
  fflush(stderr);
  int savedOut = dup(1), savedErr = dup(2);
  dup2(outFd, 1);
  dup2(errFd, 2);
  body();
  EXPECT_TRUE(FlushLog(5000));  // the writer thread has put every line into the files
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  close(outFd);
  close(errFd);
  auto slurp = [](const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::remove(path);
    return s.str();
  };
  return {slurp(outPath), slurp(errPath)};
}

TEST(Log, InformationToStdoutErrorsToStderr) {
  auto [out, err] = CaptureStreams([] {
    LogInfo("WebSocket服务器已停止");
    LogError("Accept failed: 24");
    LogInfo("");
  });
  std::regex info(R"(\[\d\d:\d\d:\d\d\] WebSocket服务器已停止\n\[\d\d:\d\d:\d\d\] \n)");
  std::regex error(R"(\[\d\d:\d\d:\d\d\] ERROR: Accept failed: 24\n)");
  EXPECT_TRUE(std::regex_match(out, info)) << out;
  EXPECT_TRUE(std::regex_match(err, error)) << err;
}

TEST(Log, ConcurrentWritersNeverMixWithinALine) {
  constexpr int THREADS = 8;
  constexpr int LINES = 250;  // within the queue's room: none may be dropped
  auto [out, err] = CaptureStreams([] {
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
      writers.emplace_back([t] {
        // Long lines make a torn write likely if the implementation allowed one.
        std::string payload(300 + t * 37, static_cast<char>('a' + t));
        for (int i = 0; i < LINES; ++i) {
          if (i % 2 == 0) LogInfo("t" + std::to_string(t) + " " + payload);
          else LogError("t" + std::to_string(t) + " " + payload);
        }
      });
    }
    for (auto& w : writers) w.join();
  });
  auto check = [](const std::string& text, bool isError) {
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    std::regex shape(isError ? R"(\[\d\d:\d\d:\d\d\] ERROR: t(\d) ([a-h]+))" : R"(\[\d\d:\d\d:\d\d\] t(\d) ([a-h]+))");
    while (std::getline(lines, line)) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 80);
      int t = std::stoi(m[1]);
      EXPECT_EQ(m[2].str(), std::string(300 + t * 37, static_cast<char>('a' + t)));
      ++count;
    }
    EXPECT_EQ(count, THREADS * LINES / 2);
  };
  check(out, false);
  check(err, true);
}

TEST(Log, SinkSeesEveryFinishedLine) {
  std::vector<std::pair<bool, std::string>> seen;
  SetLogSink([&](bool isError, const std::string& line) { seen.emplace_back(isError, line); });
  CaptureStreams([] {
    LogInfo("one");
    LogError("two");
  });
  SetLogSink({});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[0].first);
  EXPECT_TRUE(seen[1].first);
  EXPECT_EQ(seen[1].second.substr(10), " ERROR: two\n");
}

}  // namespace
}  // namespace orrin
