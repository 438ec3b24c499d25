#include "single_instance.h"

#include <QDir>
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

bool TSingleInstance::HandOffToRunning(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kActivateMessage);
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
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto check = [this, socket] {
      if (socket->readAll().contains(kActivateMessage)) emit ActivationRequested();
    };
    connect(socket, &QLocalSocket::readyRead, this, check);
    if (socket->bytesAvailable() > 0) check();  // arrived before the connection was taken
  }
}
