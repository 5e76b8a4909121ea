#include "DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace notify {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

QDBusMessage call(const QString& method) { return QDBusMessage::createMethodCall(kService, kPath, kInterface, method); }

}  // namespace

QString escapedBody(const QString& text) { return text.toHtmlEscaped().replace(QStringLiteral("&quot;"), QStringLiteral("\"")); }

DesktopNotice::DesktopNotice(QString appName, QString icon, QObject* parent)
    : QObject(parent), appName_(std::move(appName)), icon_(std::move(icon)) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // From whichever program serves the name now or later; only the ids of
  // this object's notices count.
  bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
              SLOT(actionInvoked(uint, QString)));
  bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
              SLOT(notificationClosed(uint, uint)));
}

DesktopNotice::~DesktopNotice() = default;

void DesktopNotice::show(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // Whether the body is read as markup decides how it is sent.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, summary, body](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<QStringList> caps = *w;
    // No service answers: no notice.
    if (caps.isError()) return;
    send(summary, caps.value().contains(QStringLiteral("body-markup")) ? escapedBody(body) : body);
  });
}

void DesktopNotice::send(const QString& summary, const QString& body) {
  QDBusMessage m = call(QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tomoshibi"));
  // Replaced only while the desktop still shows it: a closed notice's id
  // would make some services drop the new one.
  const uint replaces = shown_.contains(lastId_) ? lastId_ : 0;
  m << appName_ << replaces << icon_ << summary << body
    << QStringList{kDefaultAction, QStringLiteral("メールを見る")} << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(m), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> id = *w;
    if (id.isError()) return;
    lastId_ = id.value();
    shown_.insert(lastId_);
  });
}

void DesktopNotice::actionInvoked(uint id, const QString& action) {
  if (shown_.contains(id) && action == kDefaultAction) emit clicked();
}

void DesktopNotice::notificationClosed(uint id, uint reason) {
  Q_UNUSED(reason);
  shown_.remove(id);
}

}  // namespace notify
