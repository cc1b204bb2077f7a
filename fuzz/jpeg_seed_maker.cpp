// Writes the picture decoder's fuzz seeds: small real JPEGs made by TurboJPEG in every
// kind a sender may produce (baseline in each subsampling, grey, CMYK, progressive,
// odd sizes that leave partial blocks), plus a few damaged ones. TurboJPEG 2.1 cannot
// write arithmetic coding or restart markers; make_jpeg_seeds.sh adds those with jpegtran.
//   jpeg_seed_maker <output directory>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Seed {
  const char* name;
  int width;
  int height;
  int subsampling;  // TJSAMP_*
  int pixelFormat;  // TJPF_RGB, TJPF_GRAY or TJPF_CMYK
  int flags;
  int quality;
};

// A picture with edges, gradients and a little noise, so the entropy-coded data has
// every kind of coefficient in it without growing past a few KB.
std::vector<uint8_t> Pattern(int width, int height, int pixelFormat) {
  int channels = tjPixelSize[pixelFormat];
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      int n = static_cast<int>((noise >> 16) & 15);
      int square = ((x / 8 + y / 8) % 2) * 64;
      for (int c = 0; c < channels; ++c) {
        int value = (c == 0 ? x * 255 / width : c == 1 ? y * 255 / height : 255 - x * 255 / width) / 2 + square + n;
        pixels[(static_cast<size_t>(y) * width + x) * channels + c] = static_cast<uint8_t>(value);
      }
    }
  }
  return pixels;
}

bool Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const Seed seeds[] = {
      {"baseline_420", 64, 48, TJSAMP_420, TJPF_RGB, 0, 80},
      {"baseline_420_odd", 37, 23, TJSAMP_420, TJPF_RGB, 0, 75},
      {"baseline_444", 48, 32, TJSAMP_444, TJPF_RGB, 0, 80},
      {"baseline_422", 40, 24, TJSAMP_422, TJPF_RGB, 0, 70},
      {"baseline_440", 24, 40, TJSAMP_440, TJPF_RGB, 0, 70},
      {"baseline_411", 50, 17, TJSAMP_411, TJPF_RGB, 0, 70},
      {"grey", 48, 48, TJSAMP_GRAY, TJPF_GRAY, 0, 80},
      {"cmyk", 24, 24, TJSAMP_444, TJPF_CMYK, 0, 70},
      {"progressive_420", 64, 48, TJSAMP_420, TJPF_RGB, TJFLAG_PROGRESSIVE, 80},
      {"progressive_444", 33, 33, TJSAMP_444, TJPF_RGB, TJFLAG_PROGRESSIVE, 75},
      {"progressive_grey", 40, 40, TJSAMP_GRAY, TJPF_GRAY, TJFLAG_PROGRESSIVE, 80},
      {"tiny_1x1", 1, 1, TJSAMP_444, TJPF_RGB, 0, 90},
  };
  tjhandle compressor = tjInitCompress();
  if (compressor == nullptr) return 1;
  int failures = 0;
  std::vector<uint8_t> baseline;
  for (const Seed& seed : seeds) {
    std::vector<uint8_t> pixels = Pattern(seed.width, seed.height, seed.pixelFormat);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor, pixels.data(), seed.width, 0, seed.height, seed.pixelFormat, &jpeg, &size,
                    seed.subsampling, seed.quality, seed.flags) != 0) {
      std::fprintf(stderr, "%s: %s\n", seed.name, tjGetErrorStr2(compressor));
      ++failures;
      continue;
    }
    if (!Write(dir + "/" + seed.name + ".jpg", jpeg, size)) ++failures;
    if (std::string(seed.name) == "baseline_420") baseline.assign(jpeg, jpeg + size);
    tjFree(jpeg);
  }
  tjDestroy(compressor);

  // Damaged variants of the 4:2:0 picture: cut three quarters in, inside the entropy data, and a frame header
  // that announces 65500x65500 (past the limits, so refused before any allocation).
  if (!baseline.empty()) {
    if (!Write(dir + "/truncated_420.jpg", baseline.data(), baseline.size() * 3 / 4)) ++failures;
    std::vector<uint8_t> huge = baseline;
    for (size_t i = 0; i + 8 < huge.size(); ++i) {
      if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {  // SOF0: length(2) precision(1) height(2) width(2)
        huge[i + 5] = 0xFF, huge[i + 6] = 0xDC, huge[i + 7] = 0xFF, huge[i + 8] = 0xDC;
        break;
      }
    }
    if (!Write(dir + "/header_65500.jpg", huge.data(), huge.size())) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
