// The least a paced present of a cast picture costs on this display: upload one picture of
// the given size into a streaming texture, draw it scaled into the window and present, at
// the cast's pace, on the renderer the receiver picks. The receiver's delay is judged
// against decode time plus this.
//
// usage: present_floor WIDTH HEIGHT FPS SECONDS
// prints: RESULT floor <p50 ms> <p99 ms> <renderer name>
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/painter.h"
#include "app/renderer_choice.h"
#include "app/sdl_handles.h"
#include "media/cast_stats.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: present_floor WIDTH HEIGHT FPS SECONDS\n");
    return 2;
  }
  const int width = std::atoi(argv[1]) & ~1;
  const int height = std::atoi(argv[2]) & ~1;
  const double fps = std::atof(argv[3]);
  const double seconds = std::atof(argv[4]);
  if (width <= 0 || height <= 0 || fps <= 0 || seconds <= 0 || SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "present_floor: bad arguments or no display (%s)\n", SDL_GetError());
    return 2;
  }
  SDL_SetYUVConversionMode(SDL_YUV_CONVERSION_JPEG);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  orrin::WindowPtr window(SDL_CreateWindow("present floor", 100, 100, 1200, 800,
                                           SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI));
  orrin::RendererPtr renderer(window ? orrin::CreateCastRenderer(window.get()) : nullptr);
  if (!renderer) {
    std::fprintf(stderr, "present_floor: no window or renderer (%s)\n", SDL_GetError());
    return 1;
  }
  SDL_RendererInfo info{};
  SDL_GetRendererInfo(renderer.get(), &info);
  orrin::TexturePtr texture(
      SDL_CreateTexture(renderer.get(), SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING, width, height));
  if (!texture) {
    std::fprintf(stderr, "present_floor: no texture (%s)\n", SDL_GetError());
    return 1;
  }
  SDL_SetTextureScaleMode(texture.get(), SDL_ScaleModeLinear);
  std::vector<uint8_t> luma(static_cast<size_t>(width) * height);
  std::vector<uint8_t> chroma(static_cast<size_t>(width / 2) * (height / 2), 128);

  std::vector<double> samples;
  const auto interval = std::chrono::duration<double>(1.0 / fps);
  auto next = std::chrono::steady_clock::now();
  const auto end = next + std::chrono::duration<double>(seconds);
  for (int frame = 0; std::chrono::steady_clock::now() < end; ++frame) {
    std::this_thread::sleep_until(next);
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
    SDL_PumpEvents();
    // A new picture every time, as a cast brings one: the upload is part of the cost.
    std::fill(luma.begin(), luma.end(), static_cast<uint8_t>(frame * 7));
    const int64_t start = orrin::NowNs();
    SDL_UpdateYUVTexture(texture.get(), nullptr, luma.data(), width, chroma.data(), width / 2, chroma.data(),
                         width / 2);
    int outputWidth = 0;
    int outputHeight = 0;
    SDL_GetRendererOutputSize(renderer.get(), &outputWidth, &outputHeight);
    const SDL_Rect target = orrin::LetterboxRect(width, height, outputWidth, outputHeight);
    SDL_SetRenderDrawColor(renderer.get(), 0, 0, 0, 255);
    SDL_RenderClear(renderer.get());
    SDL_RenderCopy(renderer.get(), texture.get(), nullptr, &target);
    orrin::PresentFrame(renderer.get());
    if (frame >= 5) samples.push_back(static_cast<double>(orrin::NowNs() - start) / 1e6);  // past start-up
  }
  std::vector<double> sorted = samples;
  const double p50 = orrin::Percentile(sorted, 50);
  const double p99 = orrin::Percentile(sorted, 99);
  std::printf("RESULT floor %.2f %.2f %s\n", p50, p99, info.name != nullptr ? info.name : "?");
  texture.reset();
  renderer.reset();
  window.reset();
  SDL_Quit();
  return 0;
}
