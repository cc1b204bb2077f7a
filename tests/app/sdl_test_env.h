#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/cast_session.h"
#include "media/cast_stats.h"
#include "media/picture.h"

namespace orrin::test {

// SDL with the offscreen video driver (no display needed) and SDL_ttf, for one suite.
inline void StartOffscreenSdl() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS);
  TTF_Init();
}
inline void StopOffscreenSdl() {
  TTF_Quit();
  SDL_Quit();
}

// Pictures in one solid colour, built by hand in the two layouts the decoder produces.
inline std::unique_ptr<Picture> SolidRgbPicture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  auto picture = std::make_unique<Picture>();
  picture->width = width;
  picture->height = height;
  picture->format = PixelFormat::RGB24;
  picture->pitch = {width * 3, 0, 0};
  picture->data.resize(static_cast<size_t>(width) * 3 * height);
  for (size_t i = 0; i < picture->data.size(); i += 3) {
    picture->data[i] = r;
    picture->data[i + 1] = g;
    picture->data[i + 2] = b;
  }
  return picture;
}

inline std::unique_ptr<Picture> SolidI420Picture(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
  auto picture = std::make_unique<Picture>();
  picture->width = width;
  picture->height = height;
  picture->format = PixelFormat::I420;
  const int chromaWidth = (width + 1) / 2;
  const int chromaHeight = (height + 1) / 2;
  const size_t lumaSize = static_cast<size_t>(width) * height;
  const size_t chromaSize = static_cast<size_t>(chromaWidth) * chromaHeight;
  picture->pitch = {width, chromaWidth, chromaWidth};
  picture->planeOffset = {0, lumaSize, lumaSize + chromaSize};
  picture->data.assign(lumaSize + 2 * chromaSize, y);
  std::fill(picture->data.begin() + static_cast<long>(lumaSize),
            picture->data.begin() + static_cast<long>(lumaSize + chromaSize), u);
  std::fill(picture->data.begin() + static_cast<long>(lumaSize + chromaSize), picture->data.end(), v);
  return picture;
}

// One run's shared parts and sessions made from them, as the receiver makes them for each
// sender; the sessions here feed no sink.
struct TestCast {
  CastStats stats;
  CastRun run{CastRun::Settings{}, stats};
  std::shared_ptr<CastSession> Session(const std::string& clientInfo = "127.0.0.1:5000") {
    return std::make_shared<CastSession>(clientInfo, run, ScreenSink{}, std::vector<CastSink>{});
  }
};

}  // namespace orrin::test
