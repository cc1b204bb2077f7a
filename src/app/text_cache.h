#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <string>
#include <unordered_map>

#include "app/sdl_handles.h"

namespace orrin {

// A line of text rendered into a texture.
struct TextImage {
  TexturePtr texture;
  int width = 0;
  int height = 0;
  bool usedThisPass = false;
};

// Renders each distinct (font, colour, text) once and keeps the texture while paints keep
// asking for it, so the waiting screen's name and address are re-rendered only when they
// change. Entries a paint pass did not use are dropped at the end of that pass.
class TextCache {
 public:
  explicit TextCache(SDL_Renderer* renderer) : renderer_(renderer) {}

  // Null when the font is missing, the text is empty or rendering failed.
  const TextImage* Get(TTF_Font* font, SDL_Color colour, const std::string& text);
  void EndPass();
  void Clear() { images_.clear(); }
  size_t size() const { return images_.size(); }

 private:
  SDL_Renderer* renderer_;
  std::unordered_map<std::string, TextImage> images_;
};

}  // namespace orrin
