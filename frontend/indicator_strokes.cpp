#include "frontend/indicator_strokes.h"

#include <initializer_list>

namespace quillet {
namespace {

Stroke stroke(Tone tone, std::initializer_list<StrokePoint> points) {
  Stroke s;
  s.tone = tone;
  for (const StrokePoint& p : points) s.points[static_cast<std::size_t>(s.count++)] = p;
  return s;
}

}  // namespace

std::vector<Stroke> checkMarkStrokes(bool disabled) {
  const Tone mark = disabled ? Tone::Mid : Tone::Shadow;
  const Tone dark = disabled ? Tone::Shadow : Tone::DkShadow;
  return {
      stroke(mark, {{4, 8}, {9, 3}, {9, 5}}),
      stroke(Tone::Mid, {{2, 6}, {4, 8}}),
      stroke(Tone::Mid, {{5, 8}, {9, 4}}),
      stroke(mark, {{11, 1}}),
      stroke(Tone::Mid, {{12, 1}}),
      stroke(Tone::Mid, {{11, 2}}),
      stroke(dark, {{1, 4}, {4, 7}, {12, -1}}),
      stroke(dark, {{2, 4}, {4, 6}, {11, -1}}),
  };
}

std::vector<Stroke> radioPatternStrokes(bool sunken) {
  auto p = [sunken](int x, int y) { return sunken ? StrokePoint{11 - x, 11 - y} : StrokePoint{x, y}; };
  return {
      // The outer edge is the same either way.
      stroke(Tone::Edge, {{0, 4}, {5, -1}}),
      stroke(Tone::Edge, {{7, 0}, {12, 5}}),
      stroke(Tone::Edge, {{11, 7}, {6, 12}}),
      stroke(Tone::Edge, {{4, 11}, {-1, 6}}),
      stroke(Tone::Light, {p(1, 6), p(1, 4), p(4, 1), p(7, 1)}),
      stroke(Tone::Light, {p(2, 8), p(9, 1)}),
      stroke(Tone::Light, {p(3, 8), p(9, 2)}),
      stroke(Tone::Light, {p(4, 8), p(9, 3)}),
      stroke(Tone::Hilite, {p(2, 7), p(2, 4), p(6, 4)}),
      stroke(Tone::Hilite, {p(4, 5), p(4, 2), p(8, 2)}),
      stroke(Tone::Mid, {p(6, 9), p(10, 5)}),
      stroke(Tone::Mid, {p(7, 9), p(10, 6)}),
      stroke(Tone::Shadow, {p(4, 10), p(7, 10), p(10, 7), p(10, 3)}),
      stroke(Tone::Hilite, {p(3, 5)}),
      stroke(Tone::Hilite, {p(5, 3)}),
      stroke(Tone::Face, {p(2, 2)}),
      stroke(Tone::Light, {p(3, 3)}),
      stroke(Tone::Light, {p(3, 6)}),
      stroke(Tone::Light, {p(6, 3)}),
  };
}

std::array<StrokePoint, 8> radioRingPixels() {
  return {{{0, 3}, {3, 0}, {8, 0}, {11, 3}, {11, 8}, {8, 11}, {3, 11}, {0, 8}}};
}

}  // namespace quillet
