// The colour arithmetic and fixed colours the custom-drawn controls share, as plain data: both
// painters derive their 3D tones and bar shading from the system colours with these rules.
// Pure; thread-safe.
#pragma once

#include <cstdint>

namespace quillet {

// A colour as 8-bit red, green and blue.
struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool operator==(const Rgb&) const = default;
};

// Per channel a + ((b - a) shifted right by one with sign), kept to 8 bits: the colour halfway
// from a towards b, rounded towards a's darker side (the 3D mid and edge tones are made this way).
Rgb halfwayColor(const Rgb& a, const Rgb& b);

// Each channel inverted (255 minus the channel).
Rgb invertedColor(const Rgb& c);

// Per channel: +51 unless that would pass 255, in which case the channel stays as it is (no
// clamping: 230 stays 230, 204 becomes 255).
Rgb lightenBy51(const Rgb& c);
// Per channel: -51 unless the channel is below 51, in which case it stays.
Rgb darkenBy51(const Rgb& c);

// The shading of a colour progress bar: three steps lighter and two darker than its colour, and
// the tone halfway from the button shadow to the dark shadow along its sunken edge.
struct BarShades {
  Rgb lights[3];
  Rgb darks[2];
  Rgb midShadow;
};
BarShades barShades(const Rgb& base, const Rgb& shadow, const Rgb& darkShadow);

// The flat frame of edits and lists: the control's own border is two pixels wide; rings 0..2 of
// the frame lie on the control, 3 and 4 on the parent around it. Ring 0 of an edit is outlined in
// grey; drop-down lists have no outline.
inline constexpr int kFlatEditBorder = 2;
inline constexpr int kFlatEditRings = 5;
inline constexpr Rgb kFlatEditOutline{100, 100, 100};

// The font every dialog is laid out in, and whose character size its dialog units are measured
// by: 8 points of the system's dialog face (the Qt front-end takes the platform's default sans
// face at this size).
inline constexpr int kDialogFontPoints = 8;
inline constexpr const char* kDialogFontFace = "MS Shell Dlg";

// The progress bars' colours.
inline constexpr Rgb kFoldersBarColor{255, 0, 255};
inline constexpr Rgb kSizeBarColor{0, 0, 255};
inline constexpr Rgb kUsedDataBarColor{255, 0, 0};

}  // namespace quillet
