// make_ico OUT.ico: the receiver's icon for the Windows resources, drawn from the same
// description as the Linux window icon. Built and run on the build machine.
#include <fstream>
#include <iostream>

#include "app/icon_art.h"
#include "ico_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_ico OUT.ico\n";
    return 2;
  }
  // Icon group 101 holds one 32 x 32 picture of 32 bits per pixel.
  const std::vector<uint8_t> ico = orrin::EncodeIco({{32, orrin::RenderIconRgba(32)}});
  std::ofstream file(argv[1], std::ios::binary);
  file.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
  if (ico.empty() || !file.flush()) {
    std::cerr << "make_ico: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
