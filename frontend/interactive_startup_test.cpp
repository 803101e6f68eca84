// The interactive mode's steps around the main dialog, against a store in memory: what a
// first start records, when the splash runs, and the dialog's fields loaded and saved.
#include "frontend/interactive_startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillet_version.h"
#include "settings/registry_access.h"
#include "testing/memory_registry_store.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

struct Recorder : ErrorPresenter {
  std::vector<std::string> texts;
  void show(const std::string& caption, const std::string& text) override {
    texts.push_back(caption + ": " + text);
  }
};

std::string stored(RegistryStore& store, const std::string& key, const std::string& name) {
  RegistryAccess access(store);
  std::string text;
  try {
    access.readString(key, name, text);
  } catch (const CErrException&) {
    return "<missing>";
  }
  return text;
}

}  // namespace

TEST(InteractiveStartup, FirstStartRecordsTheProductAndRunsTheSplashBeforeTheDialog) {
  MemoryRegistryStore store;
  Recorder errors;
  std::vector<std::string> order;
  bool showSplash = false;
  runInteractiveSequence(
      store, errors, showSplash, [&] { order.push_back("splash"); },
      [&] { order.push_back(showSplash ? "dialog, splash on" : "dialog, splash off"); });
  EXPECT_EQ(order, (std::vector<std::string>{"splash", "dialog, splash on"}));
  EXPECT_EQ(stored(store, productKeyPath, "Product Name"), "Talvane Quillet");
  EXPECT_EQ(stored(store, productKeyPath, "Product Version"), QUILLET_PRODUCT_VERSION);
  EXPECT_TRUE(errors.texts.empty());

  // Switched off: straight to the dialog; no splash function at all is as good as one not run.
  {
    RegistryAccess access(store);
    access.writeDword(settingsKeyPath, "Show splash", 0);
  }
  order.clear();
  runInteractiveSequence(
      store, errors, showSplash, [&] { order.push_back("splash"); }, [&] { order.push_back("dialog"); });
  EXPECT_EQ(order, (std::vector<std::string>{"dialog"}));
  EXPECT_FALSE(showSplash);
  {
    RegistryAccess access(store);
    access.writeDword(settingsKeyPath, "Show splash", 1);
  }
  order.clear();
  runInteractiveSequence(store, errors, showSplash, nullptr, [&] { order.push_back("dialog"); });
  EXPECT_EQ(order, (std::vector<std::string>{"dialog"}));
  EXPECT_TRUE(showSplash);
}

TEST(InteractiveStartup, FieldsSavedAreTheFieldsLoadedNextTime) {
  MemoryRegistryStore store;
  Recorder errors;
  SettingsValues fields = loadMainDialogFields(store, "/home/someone");
  EXPECT_EQ(fields.treeDeepText, "1");
  fields.rootFolderText = "/data/run/";
  fields.minSizeText = "12";
  fields.byAllSize = true;
  saveMainDialogFields(store, fields, false, errors);
  EXPECT_TRUE(errors.texts.empty());
  const SettingsValues again = loadMainDialogFields(store, "/elsewhere");
  EXPECT_EQ(again.rootFolderText, "/data/run/");
  EXPECT_EQ(again.minSizeText, "12");
  EXPECT_TRUE(again.byAllSize);
  RegistryAccess access(store);
  EXPECT_FALSE(loadShowSplash(access));
}
