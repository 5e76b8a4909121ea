#pragma once
// One running 灯火亭 per program folder. A start that finds the program
// already running on its folder hands its request over (bring the window
// forward, or open a mailto: link) through a local socket in the user's
// runtime folder and ends, instead of opening a second main window on the
// same mail files.
#include "shell/InstanceRequest.h"

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace instance {

// The socket of a program folder: in $XDG_RUNTIME_DIR when that is the
// user's own, else in the temporary folder under a name with the user's
// number; named after the folder's real path, so that every spelling of
// one folder meets the same program.
QString socketPath(const QString& programFolder);

// Held while a start decides whether it is the first: from before it asks
// for a running program until it listens itself, so that two starts at the
// same moment cannot both become the first. Taken without a window library.
class StartLock {
 public:
  explicit StartLock(const QString& programFolder);
  ~StartLock();
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
  bool held() const { return fd_ >= 0; }
  void release();

 private:
  int fd_ = -1;
};

enum class Handover {
  Taken,        // the running program took the request
  NoneRunning,  // nobody listens: this start is the first
  NoAnswer,     // someone listens but did not take it in time
};

// Hands `request` to the program running on `programFolder`; plain sockets,
// no window library is loaded.
Handover handOver(const QString& programFolder, const Request& request, int timeoutMs = 5000);

// The first start's end of the socket. `act` runs for each request taken,
// one at a time, after the starter has been told it was taken.
class Server : public QObject {
  Q_OBJECT
 public:
  explicit Server(std::function<void(const Request&)> act, QObject* parent = nullptr);
  ~Server() override;
  // With the StartLock held, a socket left by a program that ended without
  // closing it is replaced.
  bool listen(const QString& programFolder, QString* error = nullptr);

 private:
  void accept();
  void readFrom(QLocalSocket* socket);
  void runNext();

  std::function<void(const Request&)> act_;
  QLocalServer* server_ = nullptr;
  QList<Request> pending_;
  bool acting_ = false;
};

// What a running program does with a request: "show" brings the main
// window forward, "mailto" opens the compose window for the link.
void actOnRequest(const Request& request);

}  // namespace instance
