// What the main dialog's test suites share: a dialog over a settings store in a scratch folder, a
// recorder of settings failures, reads of the stored values, and the answering of message boxes
// from inside their own loops. Tests only; UI thread.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/system.h"
#include "settings/json_registry_store.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "testing/volume_fixture.h"
#include "ui/main/main_dialog.h"

namespace quillet::test_support {

struct RecordingErrorPresenter : ErrorPresenter {
  std::vector<std::string> texts;
  void show(const std::string& caption, const std::string& text) override {
    texts.push_back(caption + ": " + text);
  }
};

// A store in a scratch folder, the system's file system and the application's two shared values.
struct DialogEnvironment {
  ScratchFolder config;
  JsonRegistryStore store{config.path()};
  RecordingErrorPresenter errors;
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  bool showSplash = true;

  MainDialogServices services() { return MainDialogServices{store, errors, *fs, systemClock()}; }

  // A dialog shown and active, so that focus changes are real.
  std::unique_ptr<MainDialog> open() {
    auto dialog = std::make_unique<MainDialog>(services(), showSplash);
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    if (!QTest::qWaitForWindowActive(dialog.get())) return nullptr;
    return dialog;
  }

  void storeString(const std::string& name, const std::string& text) {
    RegistryAccess access(store);
    access.writeString(settingsKeyPath, name, text);
  }
  std::string storedString(const std::string& name) {
    RegistryAccess access(store);
    std::string text;
    try {
      access.readString(settingsKeyPath, name, text);
    } catch (const CErrException&) {
      return "<missing>";
    }
    return text;
  }
  std::uint32_t storedNumber(const std::string& name) {
    RegistryAccess access(store);
    std::uint32_t value = 0xFFFFFFFFu;
    try {
      access.readDword(settingsKeyPath, name, value);
    } catch (const CErrException&) {
    }
    return value;
  }
};

inline QLineEdit* editOf(MainDialog& dialog, MainControl id) {
  return qobject_cast<QLineEdit*>(dialog.control(id));
}

// Types text into an edit that has the focus, replacing what it held.
inline void typeInto(MainDialog& dialog, MainControl id, const QString& text) {
  QLineEdit* edit = editOf(dialog, id);
  edit->setFocus(Qt::TabFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// Answers the next message box of that object name (any box when empty) from inside its own
// loop, pressing `button`; keeps its caption and text. Polls until stopped or answered once.
struct BoxAnswerer {
  QString objectName;
  QMessageBox::StandardButton button = QMessageBox::Ok;
  QStringList captions;
  QStringList texts;
  std::function<void()> whileShown;  // runs once the box is up, before it is answered
  QTimer poll;
  bool busy = false;

  explicit BoxAnswerer(QString name = {}, QMessageBox::StandardButton answer = QMessageBox::Ok)
      : objectName(std::move(name)), button(answer) {
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [this] {
      if (busy) return;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible()) continue;
        if (!objectName.isEmpty() && box->objectName() != objectName) continue;
        captions << box->windowTitle();
        texts << box->text();
        busy = true;
        if (whileShown) whileShown();
        box->button(button)->click();
        busy = false;
        return;
      }
    });
    poll.start();
  }
};

}  // namespace quillet::test_support
