// make_icons OUTDIR: writes the installed icons, OUTDIR/<N>x<N>/apps/orrin-receiver.png for
// every size a desktop asks for and OUTDIR/scalable/apps/orrin-receiver.svg, from the same
// description the window icon is drawn from.
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/icon_art.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool WritePng(const std::filesystem::path& path, int size, const std::vector<uint8_t>& rgba) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < size; ++y) png_write_row(png, &rgba[static_cast<size_t>(y) * size * 4]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_icons OUTDIR\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const auto dir = out / (std::to_string(size) + "x" + std::to_string(size)) / "apps";
    std::filesystem::create_directories(dir);
    if (!WritePng(dir / "orrin-receiver.png", size, orrin::RenderIconRgba(size))) {
      std::cerr << "make_icons: cannot write " << (dir / "orrin-receiver.png") << "\n";
      return 1;
    }
  }
  const auto scalable = out / "scalable" / "apps";
  std::filesystem::create_directories(scalable);
  std::ofstream(scalable / "orrin-receiver.svg") << orrin::IconSvg();
  return 0;
}
