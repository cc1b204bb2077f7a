#include "record/matroska_writer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "media/audio_format.h"

namespace orrin {
namespace {

constexpr int IO_BUFFER_BYTES = 256 * 1024;
// A cluster ends after about a second (or 32 MiB), so that much at most is lost when the
// process dies.
constexpr const char* CLUSTER_TIME_LIMIT_MS = "1000";
constexpr const char* CLUSTER_SIZE_LIMIT_BYTES = "33554432";
// Packets of one track wait this long at most for the other track before they are written.
constexpr int64_t MAX_INTERLEAVE_DELTA_US = 300'000;

bool NotOpen(std::string& error) {
  error = "not open";
  return false;
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

struct MatroskaWriter::Impl {
  std::function<void()>* beforeWrite = nullptr;
  int fd = -1;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVPacket* packet = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  int64_t written = 0;    // bytes on the disk
  int64_t committed = 0;  // end of the last cluster (or the header) written whole
  int writeError = 0;     // first failed write's errno
  bool failed = false;
  int64_t lastVideoMs = -1;
  int64_t lastAudioMs = -1;

  ~Impl() {
    av_packet_free(&packet);
    if (format != nullptr) avformat_free_context(format);
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    if (fd >= 0) ::close(fd);
  }

  static int Write(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<Impl*>(opaque);
    if (self->beforeWrite != nullptr && *self->beforeWrite) (*self->beforeWrite)();
    int done = 0;
    while (done < size) {
      const ssize_t n = ::write(self->fd, data + done, static_cast<size_t>(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (self->writeError == 0) self->writeError = n < 0 ? errno : ENOSPC;
        self->written += done;
        return AVERROR(self->writeError);
      }
      done += static_cast<int>(n);
    }
    self->written += done;
    return done;
  }

  // Everything handed to the muxer so far is on the disk, and what is there ends on a
  // cluster boundary (the muxer hands over whole clusters).
  bool Flush(std::string& error) {
    avio_flush(io);
    if (io->error < 0 || writeError != 0) return Fail(error);
    committed = written;
    return true;
  }

  bool Fail(std::string& error) {
    failed = true;
    error = std::strerror(writeError != 0 ? writeError : EIO);
    // A cluster cut in the middle would end the file in garbage; the last whole one ends it.
    if (fd >= 0 && ftruncate(fd, committed) != 0) error += " (and the file could not be cut back)";
    return false;
  }

  bool Put(AVStream* stream, const uint8_t* data, size_t size, int64_t ms, int64_t durationMs, std::string& error) {
    if (failed) {
      error = "the file has failed";
      return false;
    }
    if (av_new_packet(packet, static_cast<int>(size)) < 0) {
      error = "out of memory";
      return false;
    }
    std::memcpy(packet->data, data, size);
    packet->stream_index = stream->index;
    packet->pts = packet->dts = av_rescale_q(ms, AVRational{1, 1000}, stream->time_base);
    packet->duration = av_rescale_q(durationMs, AVRational{1, 1000}, stream->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    const int result = av_interleaved_write_frame(format, packet);  // takes the packet's data
    if (result < 0) {
      if (writeError != 0) return Fail(error);
      error = AvError(result);
      return false;
    }
    return Flush(error);
  }
};

MatroskaWriter::MatroskaWriter(std::function<void()> beforeWrite) : beforeWrite_(std::move(beforeWrite)) {}

MatroskaWriter::~MatroskaWriter() { Close(); }

bool MatroskaWriter::isOpen() const { return impl_ != nullptr; }

bool MatroskaWriter::Open(const std::string& path, int width, int height, std::string& error) {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->beforeWrite = &beforeWrite_;
  impl->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (impl->fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  auto* buffer = static_cast<uint8_t*>(av_malloc(IO_BUFFER_BYTES));
  impl->io = buffer != nullptr ? avio_alloc_context(buffer, IO_BUFFER_BYTES, 1, impl.get(), nullptr, Impl::Write,
                                                    nullptr)
                               : nullptr;
  impl->packet = av_packet_alloc();
  if (impl->io == nullptr || impl->packet == nullptr ||
      avformat_alloc_output_context2(&impl->format, nullptr, "matroska", nullptr) < 0) {
    if (impl->io == nullptr) av_free(buffer);
    error = "out of memory";
    return false;
  }
  impl->io->seekable = 0;  // written front to back only: what is on the disk stays valid
  impl->format->pb = impl->io;
  impl->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  impl->format->max_interleave_delta = MAX_INTERLEAVE_DELTA_US;

  impl->video = avformat_new_stream(impl->format, nullptr);
  impl->audio = avformat_new_stream(impl->format, nullptr);
  if (impl->video == nullptr || impl->audio == nullptr) {
    error = "out of memory";
    return false;
  }
  AVCodecParameters* v = impl->video->codecpar;
  v->codec_type = AVMEDIA_TYPE_VIDEO;
  v->codec_id = AV_CODEC_ID_MJPEG;
  v->width = width;
  v->height = height;
  impl->video->time_base = AVRational{1, 1000};
  AVCodecParameters* a = impl->audio->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = AV_CODEC_ID_PCM_S16LE;
  a->sample_rate = AUDIO_SAMPLE_RATE;
  av_channel_layout_default(&a->ch_layout, AUDIO_CHANNELS);
  a->bits_per_coded_sample = 16;
  a->block_align = AUDIO_CHANNELS * AUDIO_BYTES_PER_SAMPLE;
  impl->audio->time_base = AVRational{1, 1000};

  AVDictionary* options = nullptr;
  av_dict_set(&options, "live", "1", 0);
  av_dict_set(&options, "cluster_time_limit", CLUSTER_TIME_LIMIT_MS, 0);
  av_dict_set(&options, "cluster_size_limit", CLUSTER_SIZE_LIMIT_BYTES, 0);
  const int result = avformat_write_header(impl->format, &options);
  av_dict_free(&options);
  if (result < 0) {
    error = impl->writeError != 0 ? std::strerror(impl->writeError) : AvError(result);
    return false;
  }
  if (!impl->Flush(error)) return false;
  impl_ = std::move(impl);
  return true;
}

bool MatroskaWriter::WritePicture(const uint8_t* jpeg, size_t size, int64_t ms, std::string& error) {
  if (!impl_) return NotOpen(error);
  // Two pictures in one millisecond still get rising timestamps.
  ms = std::max(ms, impl_->lastVideoMs + 1);
  impl_->lastVideoMs = ms;
  return impl_->Put(impl_->video, jpeg, size, ms, 0, error);
}

bool MatroskaWriter::WriteSound(const uint8_t* pcm, size_t size, int64_t ms, std::string& error) {
  if (!impl_) return NotOpen(error);
  ms = std::max(ms, impl_->lastAudioMs + 1);
  impl_->lastAudioMs = ms;
  const int64_t durationMs = static_cast<int64_t>(size * 1000 / AUDIO_BYTES_PER_SECOND);
  return impl_->Put(impl_->audio, pcm, size, ms, durationMs, error);
}

void MatroskaWriter::Close() {
  if (!impl_) return;
  if (!impl_->failed) {
    av_write_trailer(impl_->format);  // the packets still held for interleaving, the last cluster
    std::string ignored;
    impl_->Flush(ignored);
  }
  impl_.reset();
}

}  // namespace orrin
