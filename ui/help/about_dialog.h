// The about box: product name with the build recorded in the per-user registry, a credit line and
// OK. Modal; UI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;

namespace quillet {

class OwnerDrawButton;
class RegistryAccess;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "About Talvane Quillet";

  // Reads "Product Version" under the product key through access (used only while constructing).
  // Any failure leaves the version empty and shows nothing.
  explicit AboutDialog(RegistryAccess& access, QWidget* parent = nullptr);

  QString productLine() const;
  QString creditLine() const;
  OwnerDrawButton* okButton() const { return ok; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* product = nullptr;
  QLabel* credit = nullptr;
  OwnerDrawButton* ok = nullptr;
};

// The recorded "Product Version", or "" when it cannot be read for any reason.
std::string readProductVersion(RegistryAccess& access);

}  // namespace quillet
