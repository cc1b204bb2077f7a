// Writes a valid colour progressive JPEG with one scan per component, coefficient and bit
// level: 3 x 64 x 11 = 2112 scans, each one legal, so only a scan limit stops a decoder
// from spending its time on them.  usage: many_scans_jpeg OUT.jpg [SIDE]
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s OUT.jpg [SIDE]\n", argv[0]);
    return 2;
  }
  // Big enough that decoding every scan would take a while; still far below the size limits.
  const int side = argc == 3 ? std::atoi(argv[2]) : 512;
  if (side < 8 || side > 4096) {
    std::fprintf(stderr, "SIDE must be 8 to 4096\n");
    return 2;
  }
  const int WIDTH = side, HEIGHT = side;
  constexpr int TOP_BIT = 10;
  std::vector<unsigned char> rgb(static_cast<size_t>(WIDTH) * HEIGHT * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>((i * 37 + i / 97) & 0xFF);

  std::vector<jpeg_scan_info> scans;
  for (int component = 0; component < 3; ++component) {
    for (int k = 0; k < 64; ++k) {
      for (int bit = TOP_BIT; bit >= 0; --bit) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = 1;
        scan.component_index[0] = component;
        scan.Ss = k;
        scan.Se = k;
        scan.Ah = bit == TOP_BIT ? 0 : bit + 1;
        scan.Al = bit;
        scans.push_back(scan);
      }
    }
  }

  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = WIDTH;
  cinfo.image_height = HEIGHT;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.scan_info = scans.data();
  cinfo.num_scans = static_cast<int>(scans.size());
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(cinfo.next_scanline) * WIDTH * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
  std::printf("%zu scans\n", scans.size());
  return 0;
}
