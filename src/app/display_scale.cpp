#include "app/display_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orrin {

namespace {
constexpr double BASE_DPI = 96.0;
constexpr double MAX_SCALE = 4.0;

// Hundredths are finer than any size here shows, and keep a scale from changing back and
// forth through rounding noise.
double Rounded(double scale) { return std::round(scale * 100.0) / 100.0; }
}  // namespace

double ScaleFromDpi(double dpi) {
  if (!(dpi > 0)) return 1.0;
  return std::clamp(Rounded(dpi / BASE_DPI), 1.0, MAX_SCALE);
}

std::optional<double> XftDpi(const std::string& resources) {
  size_t start = 0;
  while (start < resources.size()) {
    size_t end = resources.find('\n', start);
    if (end == std::string::npos) end = resources.size();
    const std::string line = resources.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\t'; }),
               name.end());
    if (name != "Xft.dpi") continue;
    const std::string value = line.substr(colon + 1);
    char* parsed = nullptr;
    const double dpi = std::strtod(value.c_str(), &parsed);
    if (parsed == value.c_str() || !(dpi > 0) || !std::isfinite(dpi)) return std::nullopt;
    return dpi;
  }
  return std::nullopt;
}

double DrawScale(double desktopScale, int windowWidth, int drawableWidth) {
  if (windowWidth <= 0 || drawableWidth <= 0) return desktopScale;
  return std::clamp(Rounded(desktopScale * drawableWidth / windowWidth), 1.0, MAX_SCALE);
}

int Scaled(int value, double scale) { return static_cast<int>(std::lround(value * scale)); }

std::string ScaleText(double scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", Rounded(scale));
  return text;
}

}  // namespace orrin
