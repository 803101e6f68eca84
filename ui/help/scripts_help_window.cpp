#include "ui/help/scripts_help_window.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include "ui/help/scripts_help_dialog.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace quillet {

namespace {

constexpr char kActivateRequest[] = "activate\n";
constexpr char kActivatedReply[] = "activated\n";
constexpr int kAnswerTimeoutMs = 2000;

// The help window this process runs, if any. A second request from the same thread cannot go
// through the socket: the window's event loop would have to answer while the caller blocks it.
QPointer<ScriptsHelpDialog> openHereWindow;

// Answers activation requests for one running help window.
class HelpWindowServer : public QObject {
 public:
  explicit HelpWindowServer(ScriptsHelpDialog& window) : dialog(window) {
    // Only the same user may connect, whatever the system's defaults for local sockets.
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &HelpWindowServer::acceptConnections);
  }

  enum class Start { Listening, OtherAnswered, Unavailable };

  Start start(const QString& name) {
    if (server.listen(name)) return Start::Listening;
    // Someone holds the name: a window that opened since we asked, or a dead process's leftover.
    if (askOpenHelpToActivate(name, kAnswerTimeoutMs)) return Start::OtherAnswered;
    QLocalServer::removeServer(name);
    return server.listen(name) ? Start::Listening : Start::Unavailable;
  }

 private:
  void acceptConnections() {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
      if (socket->canReadLine()) answer(socket);
    }
  }

  void answer(QLocalSocket* socket) {
    while (socket->canReadLine()) {
      if (socket->readLine() != kActivateRequest) continue;
      dialog.activate();
      socket->write(kActivatedReply);
      socket->flush();
    }
  }

  ScriptsHelpDialog& dialog;
  QLocalServer server;
};

}  // namespace

QString scriptsHelpServerName() {
#ifdef Q_OS_WIN
  // Pipe names are machine-wide on Windows; the user name keeps users apart.
  const QString user = qEnvironmentVariable("USERNAME");
#else
  const QString user = QString::number(::getuid());
#endif
  return QStringLiteral("talvane-quillet-scripts-help-") + user;
}

bool askOpenHelpToActivate(const QString& serverName, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  socket.connectToServer(serverName);
  if (!socket.waitForConnected(deadline.remainingTime())) return false;
  socket.write(kActivateRequest);
  if (!socket.waitForBytesWritten(deadline.remainingTime())) return false;
  while (!socket.canReadLine()) {
    if (deadline.hasExpired() || !socket.waitForReadyRead(deadline.remainingTime())) return false;
  }
  return socket.readLine() == kActivatedReply;
}

HelpOpenResult openOrActivateScriptsHelp(QWidget* parent, const QString& serverName) {
  if (openHereWindow) {
    openHereWindow->activate();
    return HelpOpenResult::ActivatedExisting;
  }
  if (askOpenHelpToActivate(serverName, kAnswerTimeoutMs)) return HelpOpenResult::ActivatedExisting;

  ScriptsHelpDialog dialog(parent);
  HelpWindowServer server(dialog);
  if (server.start(serverName) == HelpWindowServer::Start::OtherAnswered) {
    return HelpOpenResult::ActivatedExisting;
  }
  openHereWindow = &dialog;
  dialog.exec();
  return HelpOpenResult::Shown;
}

}  // namespace quillet
