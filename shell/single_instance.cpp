#include "single_instance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::DefaultName() {
  QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
  if (user.isEmpty()) user = QDir::home().dirName();
  return QString::fromLatin1(kWindowClassName) + '-' + user;
}

QStringList TSingleInstance::FileArguments(const QStringList& arguments) {
  QStringList files;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (!arguments[i].isEmpty()) files << QFileInfo(arguments[i]).absoluteFilePath();
  }
  return files;
}

bool TSingleInstance::HandOffToRunning(int timeoutMs, const QStringList& files) {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message(kActivateMessage);
  for (const QString& file : files) message += '\n' + file.toUtf8();
  socket.write(message);
  socket.flush();
  socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return true;
}

bool TSingleInstance::Listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Nobody answered HandOffToRunning, so a socket left behind by a crashed run is stale.
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::OnConnection);
  return true;
}

void TSingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    // The message is whole when the sender hangs up.
    auto finish = [this, socket] {
      const QList<QByteArray> lines = socket->readAll().split('\n');
      socket->deleteLater();
      if (lines.first() != kActivateMessage) return;
      emit ActivationRequested();
      QStringList files;
      for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty()) files << QString::fromUtf8(lines[i]);
      }
      if (!files.isEmpty()) emit FilesRequested(files);
    };
    if (socket->state() == QLocalSocket::UnconnectedState) {
      finish();  // sent and gone before the connection was taken
    } else {
      connect(socket, &QLocalSocket::disconnected, this, finish);
    }
  }
}
