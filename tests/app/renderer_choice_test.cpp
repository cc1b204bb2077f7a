#include "app/renderer_choice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "app/sdl_handles.h"

namespace orrin {
namespace {

[[maybe_unused]] double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// A windowless receiver (SDL's offscreen driver, GL in software) changes textures with every
// sender: each frame here draws from a fresh 1280x720 texture and destroys it, as a picture of
// a new size or a new text screen does. What a frame used must go with the frame.
TEST(PresentFrameTest, WindowlessFramesLetTheirTexturesGo) {
#ifdef ORRIN_SANITIZED_BUILD
  GTEST_SKIP() << "the sanitizers' allocators hold freed memory on purpose";
#else
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  struct Quit {
    ~Quit() { SDL_Quit(); }
  } quit;
  {
    WindowPtr window(SDL_CreateWindow("frames", 0, 0, 640, 400, 0));
    ASSERT_TRUE(window) << SDL_GetError();
    RendererPtr renderer(CreateCastRenderer(window.get()));
    ASSERT_TRUE(renderer) << SDL_GetError();
    SDL_RendererInfo info;
    ASSERT_EQ(SDL_GetRendererInfo(renderer.get(), &info), 0);
    if (std::strncmp(info.name, "opengl", 6) != 0) GTEST_SKIP() << "no GL here, renderer " << info.name;

    constexpr int WIDTH = 1280;
    constexpr int HEIGHT = 720;
    std::vector<uint8_t> pixels(static_cast<size_t>(WIDTH) * HEIGHT * 4);
    auto frame = [&](int n) {
      std::memset(pixels.data(), n & 0xFF, pixels.size());
      TexturePtr texture(
          SDL_CreateTexture(renderer.get(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, WIDTH, HEIGHT));
      ASSERT_TRUE(texture) << SDL_GetError();
      ASSERT_EQ(SDL_UpdateTexture(texture.get(), nullptr, pixels.data(), WIDTH * 4), 0);
      SDL_RenderClear(renderer.get());
      SDL_RenderCopy(renderer.get(), texture.get(), nullptr, nullptr);
      PresentFrame(renderer.get());
    };
    for (int n = 0; n < 5; ++n) frame(n);
    const double settled = ResidentMiB();
    // 40 such textures are 140 MiB; kept with their unfinished frames, they all stayed.
    for (int n = 5; n < 45; ++n) frame(n);
    EXPECT_LT(ResidentMiB() - settled, 24.0);
  }
#endif
}

}  // namespace
}  // namespace orrin
