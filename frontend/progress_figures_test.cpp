// Tests of the progress dialogs' figures: bar scaling with its constants and the count texts.
#include "frontend/progress_figures.h"

#include <gtest/gtest.h>

using namespace quillet;

TEST(ProgressFigures, ScalesBarsInThousandths) {
  const struct {
    const char* name;
    double current, total, constant;
    int extra, upper, pos;
  } cases[] = {
      {"used data", 750.0, 1000.0, 2.0, 0, 998, 749},
      {"files of a folder, one past", 4.0, 9.0, 2.0, 1, 801, 400},
      {"folders, constant 1", 2.0, 7.0, 1.0, 0, 875, 250},
      {"one file planned", 0.0, 1.0, 2.0, 1, 1, 0},
      {"nothing planned", 0.0, 0.0, 2.0, 0, -1000, 0},
      {"past the total narrows to 16 bits", 70000.0, 1.0, 2.0, 0, 0, int(std::int16_t(35000000 & 0xFFFF))},
      {"no divisor", 5.0, -1.0, 2.0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const BarSetting bar = scaleBar(c.current, c.total, c.constant, c.extra);
    EXPECT_EQ(bar.upper, c.upper) << c.name;
    EXPECT_EQ(bar.pos, c.pos) << c.name;
  }
}

TEST(ProgressFigures, CountsFormatAsTheDialogsShowThem) {
  EXPECT_EQ(fileCountText(999999), std::string("999999"));
  EXPECT_EQ(fileCountText(1000000), std::string("1e+06"));
  EXPECT_EQ(fileCountText(1234567), std::string("1.23457e+06"));
  EXPECT_EQ(unsignedText(static_cast<std::uint32_t>(-1)), std::string("4294967295"));
  EXPECT_EQ(ofText(3, 12), std::string("3 of 12"));
}
