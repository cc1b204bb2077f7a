#include "record/matroska_writer.h"

namespace orrin {

// Builds without libavformat: recording is refused with a clear reason.
struct MatroskaWriter::Impl {};

MatroskaWriter::MatroskaWriter(std::function<void()> beforeWrite) : beforeWrite_(std::move(beforeWrite)) {}
MatroskaWriter::~MatroskaWriter() = default;

bool MatroskaWriter::Open(const std::string&, int, int, std::string& error) {
  error = "this build has no Matroska writer (libavformat)";
  return false;
}
bool MatroskaWriter::WritePicture(const uint8_t*, size_t, int64_t, std::string& error) {
  error = "not open";
  return false;
}
bool MatroskaWriter::WriteSound(const uint8_t*, size_t, int64_t, std::string& error) {
  error = "not open";
  return false;
}
void MatroskaWriter::Close() {}
bool MatroskaWriter::isOpen() const { return false; }

}  // namespace orrin
