#include "app/text_cache.h"

#include "support/log.h"

namespace orrin {

const TextImage* TextCache::Get(TTF_Font* font, SDL_Color colour, const std::string& text) {
  if (font == nullptr || text.empty()) return nullptr;
  std::string key(reinterpret_cast<const char*>(&font), sizeof font);
  key.append({static_cast<char>(colour.r), static_cast<char>(colour.g), static_cast<char>(colour.b),
              static_cast<char>(colour.a)});
  key += text;
  auto it = images_.find(key);
  if (it == images_.end()) {
    SurfacePtr surface(TTF_RenderUTF8_Blended(font, text.c_str(), colour));
    if (!surface) {
      LogError(std::string("Failed to render text: ") + TTF_GetError());
      return nullptr;
    }
    TextImage image;
    image.texture.reset(SDL_CreateTextureFromSurface(renderer_, surface.get()));
    if (!image.texture) {
      LogError(std::string("Failed to create text texture: ") + SDL_GetError());
      return nullptr;
    }
    image.width = surface->w;
    image.height = surface->h;
    it = images_.emplace(std::move(key), std::move(image)).first;
  }
  it->second.usedThisPass = true;
  return &it->second;
}

void TextCache::EndPass() {
  std::erase_if(images_, [](const auto& entry) { return !entry.second.usedThisPass; });
  for (auto& [key, image] : images_) image.usedThisPass = false;
}

}  // namespace orrin
