#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log_writer.h"

namespace orrin {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
  // Everything in the pipe now, without waiting for more.
  std::string TakeAvailable() const {
    std::string all;
    char buffer[65536];
    int flags = ::fcntl(read, F_GETFL);
    ::fcntl(read, F_SETFL, flags | O_NONBLOCK);
    for (long n; (n = ::read(read, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(n));
    ::fcntl(read, F_SETFL, flags);
    return all;
  }
};

// Many threads, lines short and longer than one atomic pipe write, both streams into one
// pipe that is read all along: every line arrives whole, once, in its thread's order.
TEST(LogWriter, ManyWritersShareOnePipeWithoutMixingOrLosingLines) {
  constexpr int THREADS = 8;
  constexpr int LINES = 400;
  Pipe pipe;
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    for (long n; (n = ::read(pipe.read, buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<size_t>(n));
  });
  {
    LogWriter writer(pipe.write, pipe.write, LogWriter::Limits{64u << 20, 1u << 20});
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
      writers.emplace_back([&writer, t] {
        for (int i = 0; i < LINES; ++i) {
          const size_t length = i % 50 == 0 ? 9000 : 20 + (i * 37 + t * 11) % 600;
          writer.Write(i % 3 == 0, "t" + std::to_string(t) + " " + std::to_string(i) + " " +
                                       std::string(length, static_cast<char>('a' + t)) + "\n");
        }
      });
    }
    for (auto& w : writers) w.join();
    EXPECT_TRUE(writer.Flush(10s, 10s));
    EXPECT_EQ(writer.Dropped(), 0u);
  }
  ::close(pipe.write);
  pipe.write = -1;
  reader.join();

  std::istringstream lines(received);
  std::regex shape(R"(t(\d) (\d+) ([a-h]+))");
  std::map<int, int> next;
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 80);
    const int t = std::stoi(m[1]);
    const int i = std::stoi(m[2]);
    // Each thread's lines in the order it made them, errors and information alike: one
    // pipe for both streams is a log started with 2>&1.
    EXPECT_EQ(m[3].str(), std::string(m[3].length(), static_cast<char>('a' + t)));
    EXPECT_EQ(i, next[t]);
    next[t] = i + 1;
  }
  EXPECT_EQ(count, THREADS * LINES);
}

// Nobody reads stdout: lines past the queue are dropped and counted, errors still leave at
// once on their own stream, the writer gives up a flush soon, and once the pipe is read
// the next line brings the count.
TEST(LogWriter, StalledStreamDropsCountsAndReportsWithoutHoldingErrors) {
  Pipe out, err;
  LogWriter writer(out.write, err.write, LogWriter::Limits{1u << 20, 64});
  const std::string line(200, 'x');
  // 2 MB at a pace the writer follows: the pipe fills, then the queue, then lines drop.
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 50; ++i) writer.Write(false, line + "\n");
    std::this_thread::sleep_for(1ms);
  }
  const uint64_t dropped = writer.Dropped();
  EXPECT_GT(dropped, 5000u);

  writer.Write(true, "an error\n");
  const Clock::time_point start = Clock::now();
  std::string errors;
  while (errors.find("an error\n") == std::string::npos && Clock::now() - start < 5s) {
    std::this_thread::sleep_for(5ms);
    errors += err.TakeAvailable();
  }
  EXPECT_LT(Clock::now() - start, 1s) << "the error waited for the stalled stream";
  // A line taken after drops is preceded by one that says how many there were (more than
  // one such line when the writer caught up for a moment during the flood).
  uint64_t reported = 0;
  const std::regex notice(R"(\[\d\d:\d\d:\d\d\] ERROR: Log output blocked: (\d+) lines dropped\n)");
  for (std::sregex_iterator it(errors.begin(), errors.end(), notice), end; it != end; ++it) {
    reported += std::stoull((*it)[1]);
  }
  EXPECT_EQ(reported, dropped) << errors;
  EXPECT_TRUE(errors.ends_with("\nan error\n")) << errors;

  const Clock::time_point flushStart = Clock::now();
  EXPECT_FALSE(writer.Flush(5s, 100ms));
  EXPECT_LT(Clock::now() - flushStart, 1s);

  // The reader comes back: the queue drains, and the next line says what was lost.
  std::string output;
  const Clock::time_point drainStart = Clock::now();
  do {
    output += out.TakeAvailable();
    std::this_thread::sleep_for(5ms);
  } while (!writer.Flush(0ms, 0ms) && Clock::now() - drainStart < 5s);
  output += out.TakeAvailable();
  EXPECT_EQ(output.size() % (line.size() + 1), 0u);  // whole lines only
  writer.Write(false, "after\n");
  EXPECT_TRUE(writer.Flush(5s, 5s));
  EXPECT_EQ(out.TakeAvailable(), "after\n");
  EXPECT_EQ(err.TakeAvailable(), "");
  EXPECT_EQ(writer.Dropped(), dropped);
}

TEST(LogWriter, EndsWithinTheExitDeadlineWhenNobodyReads) {
  Pipe out;
  const Clock::time_point start = Clock::now();
  {
    LogWriter writer(out.write, out.write);
    for (int i = 0; i < 5000; ++i) writer.Write(i % 2 == 0, std::string(300, 'y') + "\n");
  }
  EXPECT_LT(Clock::now() - start, LogWriter::EXIT_DEADLINE);
}

}  // namespace
}  // namespace orrin
