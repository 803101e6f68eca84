// The colour rules both painters derive their tones with.
#include "frontend/drawing_rules.h"

#include <gtest/gtest.h>

using namespace quillet;

TEST(DrawingRules, HalfwayRoundsTowardsTheFirstColoursDarkerSideAndInversionFlips) {
  EXPECT_EQ(halfwayColor({192, 192, 192}, {128, 128, 128}), (Rgb{160, 160, 160}));
  EXPECT_EQ(halfwayColor({100, 0, 255}, {201, 1, 0}), (Rgb{150, 0, 127}));
  EXPECT_EQ(halfwayColor({201, 1, 0}, {100, 0, 255}), (Rgb{150, 0, 127}));
  EXPECT_EQ(invertedColor({255, 0, 10}), (Rgb{0, 255, 245}));
}

TEST(DrawingRules, BarShadesStepBy51WithoutClampingAChannel) {
  const BarShades red = barShades(kUsedDataBarColor, {128, 128, 128}, {0, 0, 0});
  EXPECT_EQ(red.lights[0], (Rgb{255, 51, 51}));
  EXPECT_EQ(red.lights[1], (Rgb{255, 102, 102}));
  EXPECT_EQ(red.lights[2], (Rgb{255, 153, 153}));
  EXPECT_EQ(red.darks[0], (Rgb{204, 0, 0}));
  EXPECT_EQ(red.darks[1], (Rgb{153, 0, 0}));
  EXPECT_EQ(red.midShadow, (Rgb{64, 64, 64}));
  // A channel that would pass 255 stays; one below 51 stays when darkened.
  EXPECT_EQ(lightenBy51({230, 204, 0}), (Rgb{230, 255, 51}));
  EXPECT_EQ(darkenBy51({50, 51, 255}), (Rgb{50, 0, 204}));
}
