// The splash sequence against a recording window, the splash's text placement, and the about and
// scripts help texts and tables.
#include "frontend/help_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/splash_sequence.h"
#include "quillet_version.h"
#include "script/scripts_help_text.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "testing/memory_registry_store.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

// Records every call as one line, in order.
struct RecordingSplash : SplashScreen {
  std::vector<std::string> calls;
  void create() override { calls.push_back("create"); }
  void setProduct(const std::string& text, bool shown) override {
    calls.push_back("product " + text + (shown ? " shown" : " hidden"));
  }
  void setVersion(const std::string& text, bool shown) override {
    calls.push_back("version " + text + (shown ? " shown" : " hidden"));
  }
  void setMessage(const std::string& text) override { calls.push_back("message " + text); }
  void present() override { calls.push_back("present"); }
  void close() override { calls.push_back("close"); }
};

}  // namespace

TEST(SplashSequence, ShowsEachMessagePresentedBeforeItsHoldThenCloses) {
  RecordingSplash splash;
  runSplashSequence(splash, [&](std::chrono::milliseconds hold) {
    splash.calls.push_back("hold " + std::to_string(hold.count()));
  });
  const std::vector<std::string> expected = {
      "create",
      "product Talvane Quillet shown",
      "version Build " QUILLET_PRODUCT_VERSION " shown",
      "message         Please wait...",
      "present",
      "hold 1500",
      "message Quillet is preparing for spamming...",
      "present",
      "hold 2000",
      "message Sharpening the random bytes...",
      "present",
      "hold 2000",
      "close",
  };
  EXPECT_EQ(splash.calls, expected);
}

TEST(SplashSequence, TextsArePlacedByTheirCharacterCount) {
  // The message centred by four pixels a character, then 15 to the left, at y 450.
  EXPECT_EQ(splashMessagePosition(281, 22), (SplashPoint{140 - 44 - 15, 450}));
  EXPECT_EQ(splashMessagePosition(281, 0), (SplashPoint{125, 450}));
  // The version right-aligned 7 pixels from the right edge.
  EXPECT_EQ(splashVersionPosition(281, 14), (SplashPoint{281 - 56 - 7, 0}));
  // A message wider than the window starts left of it rather than wrapping round.
  EXPECT_LT(splashMessagePosition(281, 200).x, 0);
}

TEST(HelpLayout, AboutLinesCarryTheRecordedVersionOrNothing) {
  MemoryRegistryStore store;
  {
    RegistryAccess access(store);
    EXPECT_EQ(readProductVersion(access), "");  // nothing recorded yet
  }
  {
    RegistryAccess access(store);
    access.writeString(productKeyPath, "Product Version", QUILLET_PRODUCT_VERSION);
  }
  RegistryAccess access(store);
  EXPECT_EQ(aboutProductLine(readProductVersion(access)), "Talvane Quillet Build " QUILLET_PRODUCT_VERSION);
  EXPECT_EQ(aboutProductLine(""), "Talvane Quillet Build ");
  EXPECT_EQ(aboutCreditLine(), "Made by Talvane Software");
}

TEST(HelpLayout, ScriptsHelpKeepsOneParagraphALine) {
  const std::string& text = scriptsHelpText();
  const std::string lines = scriptsHelpLines();
  EXPECT_EQ(lines.find('\r'), std::string::npos);
  const auto crlf = [&] {
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
    return n;
  }();
  EXPECT_GT(crlf, 10u);
  EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')),
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  EXPECT_EQ(lines.size(), text.size() - crlf);
}

TEST(HelpLayout, TablesFitTheirWindowsAndEachHasOneOkButton) {
  for (const HelpDialogLayout& layout : {aboutLayout(), scriptsHelpLayout()}) {
    int okButtons = 0;
    for (const HelpControlRow& row : layout.controls) {
      EXPECT_LE(row.x + row.width, layout.width) << layout.caption;
      EXPECT_LE(row.y + row.height, layout.height) << layout.caption;
      if (row.kind == HelpControlKind::OkButton) ++okButtons;
    }
    EXPECT_EQ(okButtons, 1) << layout.caption;
  }
  EXPECT_STREQ(aboutLayout().caption, "About Talvane Quillet");
  EXPECT_STREQ(scriptsHelpLayout().caption, "Scripts help");
}
