#pragma once
// A notice on the desktop through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus, over QtDBus). Nothing
// waits for the service: every call is sent and its answer taken when it
// comes. Without a session bus or without a service on it there is simply
// no notice; that is nobody's error.
#include <QObject>
#include <QSet>
#include <QString>

namespace notify {

class DesktopNotice : public QObject {
  Q_OBJECT
 public:
  // `appName` and `icon` (an icon theme's name) go with every notice.
  DesktopNotice(QString appName, QString icon, QObject* parent = nullptr);
  ~DesktopNotice() override;

  // Shows `summary` and `body`, both plain text, in place of this object's
  // previous notice when the desktop still shows that one. A service that
  // reads markup in the body gets it escaped.
  void show(const QString& summary, const QString& body);

 signals:
  // The user clicked one of this object's notices (its default action).
  void clicked();

 private slots:
  void actionInvoked(uint id, const QString& action);
  void notificationClosed(uint id, uint reason);

 private:
  void send(const QString& summary, const QString& body);

  QString appName_;
  QString icon_;
  uint lastId_ = 0;
  QSet<uint> shown_;
};

// `text` as a body the service reads as markup: &, < and > escaped.
QString escapedBody(const QString& text);

}  // namespace notify
