// The shared colour rules.
#include "frontend/drawing_rules.h"

namespace quillet {

namespace {
int halfway(int a, int b) {
  // The arithmetic shift keeps the sign, so the result moves towards b by half, rounding down.
  return (a + ((b - a) >> 1)) & 0xFF;
}
int lightenChannel(int v) { return v + 51 > 255 ? v : v + 51; }
int darkenChannel(int v) { return v < 51 ? v : v - 51; }
}  // namespace

Rgb halfwayColor(const Rgb& a, const Rgb& b) {
  return {halfway(a.red, b.red), halfway(a.green, b.green), halfway(a.blue, b.blue)};
}

Rgb invertedColor(const Rgb& c) { return {255 - c.red, 255 - c.green, 255 - c.blue}; }

Rgb lightenBy51(const Rgb& c) {
  return {lightenChannel(c.red), lightenChannel(c.green), lightenChannel(c.blue)};
}

Rgb darkenBy51(const Rgb& c) { return {darkenChannel(c.red), darkenChannel(c.green), darkenChannel(c.blue)}; }

BarShades barShades(const Rgb& base, const Rgb& shadow, const Rgb& darkShadow) {
  BarShades shades{};
  shades.lights[0] = lightenBy51(base);
  shades.lights[1] = lightenBy51(shades.lights[0]);
  shades.lights[2] = lightenBy51(shades.lights[1]);
  shades.darks[0] = darkenBy51(base);
  shades.darks[1] = darkenBy51(shades.darks[0]);
  shades.midShadow = halfwayColor(shadow, darkShadow);
  return shades;
}

}  // namespace quillet
