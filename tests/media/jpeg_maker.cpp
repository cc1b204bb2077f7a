#include "jpeg_maker.h"

#include <turbojpeg.h>

#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace orrin::test {

RgbImage MakeTestImage(int width, int height, unsigned seed) {
  RgbImage image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
      int r = static_cast<int>(40 + 180 * fx);
      int g = static_cast<int>(60 + 150 * fy);
      int b = static_cast<int>(128 + 90 * std::sin(6.0 * (fx + fy)));
      // A saturated red block in the upper left quarter and a blue one lower right:
      // places where a swapped plane or a shifted row shows at once.
      if (fx > 0.1 && fx < 0.35 && fy > 0.1 && fy < 0.35) r = 230, g = 30, b = 40;
      if (fx > 0.6 && fx < 0.9 && fy > 0.6 && fy < 0.9) r = 20, g = 40, b = 220;
      uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 3];
      int n = noise(random);
      p[0] = static_cast<uint8_t>(std::clamp(r + n, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g + n, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(b + n, 0, 255));
    }
  }
  return image;
}

ByteBuffer CompressJpeg(const RgbImage& image, int subsampling, int quality) {
  tjhandle handle = tjInitCompress();
  if (handle == nullptr) throw std::runtime_error("tjInitCompress failed");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  int result = tjCompress2(handle, image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &jpeg,
                           &size, subsampling, quality, 0);
  ByteBuffer out;
  if (result == 0) out.assign(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  if (result != 0) throw std::runtime_error("tjCompress2 failed");
  return out;
}

ByteBuffer CompressWithManyScans(const RgbImage& image) {
  std::vector<uint8_t> grey(static_cast<size_t>(image.width) * image.height);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) grey[static_cast<size_t>(y) * image.width + x] = Luma(image.At(x, y));
  }
  // Successive approximation from bit 10 down to bit 0 for the DC coefficient and then for
  // each AC coefficient on its own.
  constexpr int TOP_BIT = 10;
  std::vector<jpeg_scan_info> scans;
  auto addScan = [&scans](int ss, int se, int ah, int al) {
    jpeg_scan_info scan{};
    scan.comps_in_scan = 1;
    scan.component_index[0] = 0;
    scan.Ss = ss;
    scan.Se = se;
    scan.Ah = ah;
    scan.Al = al;
    scans.push_back(scan);
  };
  for (int k = 0; k < 64; ++k) {
    addScan(k, k, 0, TOP_BIT);
    for (int bit = TOP_BIT; bit > 0; --bit) addScan(k, k, bit, bit - 1);
  }

  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.scan_info = scans.data();
  cinfo.num_scans = static_cast<int>(scans.size());
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &grey[static_cast<size_t>(cinfo.next_scanline) * image.width];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  ByteBuffer out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

uint8_t Luma(const uint8_t* rgb) {
  return static_cast<uint8_t>(std::lround(0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]));
}

}  // namespace orrin::test
