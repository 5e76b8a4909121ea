#include "SingleInstance.h"

#include "composer/MailtoFill.h"
#include "composer/model/MailtoLink.h"
#include "platform/SharedState.h"
#include "shell/MainForm.h"
#include "shell/TaikiForm.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace instance {
namespace {

constexpr int kServerPatienceMs = 5000;

bool isOwnPrivateFolder(const QByteArray& path) {
  struct stat st;
  return path.startsWith('/') && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// The real path of a folder that may not exist yet: the deepest existing
// part resolved, the rest as written.
QString realPath(const QString& folder) {
  QString path = QDir::cleanPath(QDir(folder).absolutePath());
  QString rest;
  while (!QFileInfo::exists(path) && path != u"/") {
    rest = u'/' + QFileInfo(path).fileName() + rest;
    path = QFileInfo(path).path();
  }
  const QString real = QFileInfo(path).canonicalFilePath();
  return QDir::cleanPath((real.isEmpty() ? path : real) + rest);
}

bool waitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int n;
  do {
    n = ::poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace

QString socketPath(const QString& programFolder) {
  const QByteArray key =
      QCryptographicHash::hash(realPath(programFolder).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (isOwnPrivateFolder(runtime))
    return QFile::decodeName(runtime) + QStringLiteral("/tomoshibi-") + QString::fromLatin1(key) + QStringLiteral(".socket");
  return QDir::tempPath() + QStringLiteral("/tomoshibi-%1-").arg(::getuid()) + QString::fromLatin1(key) +
         QStringLiteral(".socket");
}

StartLock::StartLock(const QString& programFolder) {
  const QByteArray path = QFile::encodeName(socketPath(programFolder) + QStringLiteral(".lock"));
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  struct stat st;
  // Another user's file of that name in a shared folder is not our lock.
  if (::fstat(fd, &st) != 0 || st.st_uid != ::getuid() || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  int r;
  do {
    r = ::flock(fd, LOCK_EX);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

StartLock::~StartLock() { release(); }

void StartLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing lets the lock go
  fd_ = -1;
}

Handover handOver(const QString& programFolder, const Request& request, int timeoutMs) {
  const QByteArray path = QFile::encodeName(socketPath(programFolder));
  struct stat st;
  // Only a socket of our own is asked: in a shared folder another user could
  // have put one there to read our links.
  if (::lstat(path.constData(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
    return Handover::NoneRunning;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (size_t(path.size()) >= sizeof addr.sun_path) return Handover::NoneRunning;
  std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Handover::NoneRunning;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return Handover::NoneRunning;  // a socket left behind by a program that ended

  const QByteArray message = requestBytes(request);
  qsizetype sent = 0;
  while (sent < message.size()) {
    if (!waitFor(fd, POLLOUT, timeoutMs)) return Handover::NoAnswer;
    const ssize_t n = ::send(fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Handover::NoAnswer;
    sent += n;
  }
  QByteArray reply;
  while (!reply.contains('\n') && reply.size() < kMaxRequestHeader) {
    if (!waitFor(fd, POLLIN, timeoutMs)) return Handover::NoAnswer;
    char buf[64];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reply.append(buf, n);
  }
  return reply.startsWith("OK\n") ? Handover::Taken : Handover::NoAnswer;
}

Server::Server(std::function<void(const Request&)> act, QObject* parent)
    : QObject(parent), act_(std::move(act)), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &Server::accept);
}

Server::~Server() { server_->close(); }

bool Server::listen(const QString& programFolder, QString* error) {
  const QString path = socketPath(programFolder);
  if (server_->listen(path)) return true;
  if (server_->serverError() == QAbstractSocket::AddressInUseError) {
    QLocalServer::removeServer(path);
    if (server_->listen(path)) return true;
  }
  if (error) *error = server_->errorString();
  return false;
}

void Server::accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
    // A starter that says nothing is not waited for.
    QPointer<QLocalSocket> guard(socket);
    QTimer::singleShot(kServerPatienceMs, socket, [guard] {
      if (guard) guard->abort();
    });
    readFrom(socket);
  }
}

void Server::readFrom(QLocalSocket* socket) {
  const QByteArray buffered = socket->peek(kMaxRequestHeader + kMaxMailtoLength + 1);
  Request request;
  qsizetype consumed = 0;
  switch (readRequest(buffered, &request, &consumed)) {
    case ReadState::Incomplete:
      return;
    case ReadState::Refused:
      socket->abort();
      return;
    case ReadState::Complete:
      break;
  }
  socket->read(consumed);
  pending_.append(request);
  socket->write("OK\n");
  socket->flush();
  socket->disconnectFromServer();
  // The starter is answered first: what the request opens may wait for the user.
  QTimer::singleShot(0, this, &Server::runNext);
}

void Server::runNext() {
  // A question box of one request runs its own event loop; later requests
  // wait until it is answered.
  if (acting_) return;
  // A check in the windows holds back the user's input: a question asked
  // now could never be answered.
  if (shared::CheckRunning) {
    QTimer::singleShot(300, this, &Server::runNext);
    return;
  }
  acting_ = true;
  while (!pending_.isEmpty()) act_(pending_.takeFirst());
  acting_ = false;
}

void actOnRequest(const Request& request) {
  if (request.verb == u"mailto") {
    ComposeFromMailtoLink(request.text);
    return;
  }
  QWidget* window = MainForm::instance();
  // Hidden while it stands by: the standby window is the one to show then.
  if (window && !window->isVisible()) window = TaikiForm::existing();
  if (!window || !window->isVisible()) return;
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->raise();
  window->activateWindow();
}

}  // namespace instance
