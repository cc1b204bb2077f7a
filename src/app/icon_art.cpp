#include "app/icon_art.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orrin {

namespace {

// Drawn on a 32 x 32 grid.
constexpr double GRID = 32;
struct Box {
  double x, y, w, h, radius;
};
struct Colour {
  uint8_t r, g, b;
};
constexpr Box TILE{0, 0, 32, 32, 5};
constexpr Box SCREEN{6, 8, 20, 14, 1};
constexpr Box STAND{13, 22, 6, 3, 0};
constexpr double DOT_X = 22.5, DOT_Y = 18.5, DOT_R = 2.5;
constexpr Colour BLUE{30, 90, 200};
constexpr Colour WHITE{245, 245, 245};
constexpr Colour GREEN{0, 220, 80};

bool InBox(const Box& b, double x, double y) {
  if (x < b.x || y < b.y || x > b.x + b.w || y > b.y + b.h) return false;
  // Distance into a rounded corner, if the point is in one.
  const double cx = std::max({b.x + b.radius - x, x - (b.x + b.w - b.radius), 0.0});
  const double cy = std::max({b.y + b.radius - y, y - (b.y + b.h - b.radius), 0.0});
  return cx * cx + cy * cy <= b.radius * b.radius;
}

std::string Hex(Colour c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

std::string Rect(const Box& b, Colour c) {
  char text[160];
  std::snprintf(text, sizeof text, "  <rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" rx=\"%g\" fill=\"%s\"/>\n", b.x,
                b.y, b.w, b.h, b.radius, Hex(c).c_str());
  return text;
}

}  // namespace

std::vector<uint8_t> RenderIconRgba(int size) {
  std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4, 0);
  constexpr int SAMPLES = 4;  // per side, for smooth edges at every size
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, covered = 0;
      for (int sy = 0; sy < SAMPLES; ++sy) {
        for (int sx = 0; sx < SAMPLES; ++sx) {
          const double x = (px + (sx + 0.5) / SAMPLES) * GRID / size;
          const double y = (py + (sy + 0.5) / SAMPLES) * GRID / size;
          if (!InBox(TILE, x, y)) continue;
          const double dx = x - DOT_X, dy = y - DOT_Y;
          Colour c = BLUE;
          if (dx * dx + dy * dy <= DOT_R * DOT_R) {
            c = GREEN;
          } else if (InBox(SCREEN, x, y) || InBox(STAND, x, y)) {
            c = WHITE;
          }
          r += c.r, g += c.g, b += c.b, covered += 1;
        }
      }
      uint8_t* p = &pixels[(static_cast<size_t>(py) * size + px) * 4];
      if (covered > 0) {
        p[0] = static_cast<uint8_t>(std::lround(r / covered));
        p[1] = static_cast<uint8_t>(std::lround(g / covered));
        p[2] = static_cast<uint8_t>(std::lround(b / covered));
        p[3] = static_cast<uint8_t>(std::lround(255.0 * covered / (SAMPLES * SAMPLES)));
      }
    }
  }
  return pixels;
}

std::string IconSvg() {
  char dot[128];
  std::snprintf(dot, sizeof dot, "  <circle cx=\"%g\" cy=\"%g\" r=\"%g\" fill=\"%s\"/>\n", DOT_X, DOT_Y, DOT_R,
                Hex(GREEN).c_str());
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 32 32\">\n" +
         Rect(TILE, BLUE) + Rect(SCREEN, WHITE) + Rect(STAND, WHITE) + dot + "</svg>\n";
}

}  // namespace orrin
