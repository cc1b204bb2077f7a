#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace orrin::cast {

// Counts what was sent; on a terminal, keeps a one-line display up to date.
class Progress {
 public:
  explicit Progress(bool live) : live_(live), start_(std::chrono::steady_clock::now()) {}
  void Picture(size_t bytes);
  void Sound(size_t bytes);
  void Finish();  // ends the live line
  std::string Summary(double seconds) const;

 private:
  void Show();

  bool live_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastShown_{};
  long pictures_ = 0;
  long sounds_ = 0;
  size_t bytes_ = 0;
};

}  // namespace orrin::cast
