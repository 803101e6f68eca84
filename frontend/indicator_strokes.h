// The strokes of the check-box mark and the radio indicator's 3D pattern, as data both painters
// play: each front-end keeps only the frame and fill of its indicator and a short loop over these.
// Points are relative to the box the caller names. Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quillet {

// Which of the button colours a stroke is drawn in.
enum class Tone : std::uint8_t { Hilite, Light, Face, Mid, Shadow, DkShadow, Edge };

struct StrokePoint {
  int x = 0;
  int y = 0;
  bool operator==(const StrokePoint&) const = default;
};

// With one point, a single pixel; with more, a pen line through them, each segment stopping
// before its end point as the dialog painters' lines do.
struct Stroke {
  Tone tone = Tone::Shadow;
  int count = 0;
  std::array<StrokePoint, 4> points{};
};

// The member of a front-end's button colours (each names its tones hilite, light, face, mid,
// shadow, dkShadow and edge) that a tone stands for.
template <class Colors>
const auto& toneColor(const Colors& c, Tone tone) {
  switch (tone) {
    case Tone::Hilite: return c.hilite;
    case Tone::Light: return c.light;
    case Tone::Face: return c.face;
    case Tone::Mid: return c.mid;
    case Tone::Shadow: return c.shadow;
    case Tone::DkShadow: return c.dkShadow;
    case Tone::Edge: return c.edge;
  }
  return c.shadow;
}

// The mark of a checked box, relative to the top-left of the box inside its frame. The long stroke
// runs out of the box towards its upper right corner.
std::vector<Stroke> checkMarkStrokes(bool disabled);

// The 3D pattern of an enabled radio indicator, relative to the indicator box's top-left: raised,
// or, when checked or pressed, turned by half a turn about the centre (sunken).
std::vector<Stroke> radioPatternStrokes(bool sunken);

// The eight pixels that round the radio indicator's ring, relative to the box's top-left.
std::array<StrokePoint, 8> radioRingPixels();

}  // namespace quillet
