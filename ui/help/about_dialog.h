// The about box: product name with the build recorded in the per-user registry, a credit line and
// OK. Modal; UI thread only.
#pragma once

#include <QString>
#include <string>

#include "frontend/help_layout.h"
#include "ui/help/ok_dialog.h"

class QLabel;

namespace quillet {

class RegistryAccess;

class AboutDialog : public OkDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = kAboutCaption;

  // Reads "Product Version" under the product key through access (used only while constructing).
  // Any failure leaves the version empty and shows nothing.
  explicit AboutDialog(RegistryAccess& access, QWidget* parent = nullptr);

  QString productLine() const;
  QString creditLine() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* product = nullptr;
  QLabel* credit = nullptr;
};

}  // namespace quillet
