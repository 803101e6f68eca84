#include "ui/main/folder_browser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "frontend/folder_browsing.h"

namespace quillet {

QString trimInitialFolder(const QString& folder) {
  return QString::fromStdString(quillet::trimInitialFolder(folder.toStdString()));
}

FolderBrowser::FolderBrowser(const QString& folder) : initialFolder(folder) {}

bool FolderBrowser::validateSelection(const QString&, QString& statusText) {
  statusText.clear();
  return true;
}

namespace {

// The folder window, refusing a selection the browser's validateSelection turns down.
class FolderWindow : public QFileDialog {
 public:
  FolderWindow(FolderBrowser& owningBrowser, QWidget* owner) : QFileDialog(owner), browser(owningBrowser) {
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly, true);
    // The toolkit's own window, so the instruction text, the status line and the validation can
    // take part; the platform's native picker offers none of them.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (browser.showStatusText) {
      status = new QLabel(this);
      status->setObjectName(QStringLiteral("statusText"));
      if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(status, grid->rowCount(), 0, 1, -1);
      }
    }
    connect(this, &QFileDialog::currentChanged, this, &FolderWindow::validate);
    connect(this, &QFileDialog::directoryEntered, this, &FolderWindow::validate);
  }

  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);
    // The selection the browser opens with is a selection too.
    const QStringList chosen = selectedFiles();
    validate(chosen.isEmpty() ? directory().absolutePath() : chosen.first());
  }

  void accept() override {
    const QStringList chosen = selectedFiles();
    QString text;
    if (chosen.isEmpty() || !browser.validateSelection(chosen.first(), text)) return;
    QFileDialog::accept();
  }

 private:
  void validate(const QString& path) {
    QString text;
    const bool ok = browser.validateSelection(path, text);
    if (status != nullptr) status->setText(text);
    if (auto* box = findChild<QDialogButtonBox*>()) {
      if (QPushButton* open = box->button(QDialogButtonBox::Open)) open->setEnabled(ok);
    }
  }

  FolderBrowser& browser;
  QLabel* status = nullptr;
};

}  // namespace

bool FolderBrowser::browse(QWidget* owner) {
  const QString start = initialFolder.isEmpty() ? QString() : trimInitialFolder(initialFolder);
  FolderWindow window(*this, owner);
  window.setObjectName(QStringLiteral("folderBrowser"));
  if (!rootPath.isEmpty()) {
    const QFileInfo root(rootPath);
    if (!root.isDir()) return false;
    window.setSidebarUrls({QUrl::fromLocalFile(root.absoluteFilePath())});
    window.setDirectory(root.absoluteFilePath());
  }
  window.setLabelText(QFileDialog::LookIn, title.isEmpty() ? QStringLiteral("Open") : title);
  window.setWindowTitle(caption.isEmpty() ? (title.isEmpty() ? QStringLiteral("Open") : title) : caption);
  if (!start.isEmpty()) {
    const QFileInfo folder(start);
    if (folder.isDir()) {
      // Open in the folder's parent with the folder itself selected.
      QDir parentFolder = folder.absoluteDir();
      window.setDirectory(folder.isRoot() ? folder.absoluteFilePath() : parentFolder.absolutePath());
      if (!folder.isRoot()) window.selectFile(folder.absoluteFilePath());
    }
  }
  if (window.exec() != QDialog::Accepted) return false;
  const QStringList chosen = window.selectedFiles();
  if (chosen.isEmpty()) return false;
  selectedPath = QDir::toNativeSeparators(chosen.first());
  return true;
}

}  // namespace quillet
