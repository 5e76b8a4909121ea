// A desktop notification service of the tests' own: it takes the name
// org.freedesktop.Notifications on the session bus (the test's private one)
// and writes every notice it is sent as one JSON line on standard output:
//   {"id": 1, "app": ..., "replaces": 0, "icon": ..., "summary": ...,
//    "body": ..., "actions": [...], "hints": {...}, "timeout": -1}
// after a first line "ready". Lines on standard input act as the user and
// the desktop would: "click ID" (the notice's default action), "close ID".
// With --markup it says it reads markup in bodies.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <unistd.h>

class Notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  explicit Notifications(bool markup) : markup_(markup) {}

 public slots:
  QStringList GetCapabilities() {
    QStringList caps{QStringLiteral("body"), QStringLiteral("actions")};
    if (markup_) caps << QStringLiteral("body-markup");
    return caps;
  }
  QString GetServerInformation(QString& vendor, QString& version, QString& protocol) {
    vendor = QStringLiteral("tomoshibi-tests");
    version = QStringLiteral("1");
    protocol = QStringLiteral("1.2");
    return QStringLiteral("notify_server");
  }
  uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int timeout) {
    const uint id = replaces ? replaces : ++last_;
    QJsonObject o{{QStringLiteral("id"), qint64(id)},
                  {QStringLiteral("app"), app},
                  {QStringLiteral("replaces"), qint64(replaces)},
                  {QStringLiteral("icon"), icon},
                  {QStringLiteral("summary"), summary},
                  {QStringLiteral("body"), body},
                  {QStringLiteral("actions"), QJsonArray::fromStringList(actions)},
                  {QStringLiteral("hints"), QJsonObject::fromVariantMap(hints)},
                  {QStringLiteral("timeout"), timeout}};
    line(QJsonDocument(o).toJson(QJsonDocument::Compact));
    return id;
  }
  void CloseNotification(uint id) { emit NotificationClosed(id, 3); }

 signals:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 public:
  static void line(const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  bool markup_;
  uint last_ = 0;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Notifications n(app.arguments().contains(QStringLiteral("--markup")));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() ||
      !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &n,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
      !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
    std::fprintf(stderr, "notify_server: %s\n", bus.lastError().message().toUtf8().constData());
    return 1;
  }
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buf[256];
    const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
    if (got <= 0) {
      QCoreApplication::quit();  // the test ended
      return;
    }
    pending.append(buf, got);
    for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0;) {
      const QList<QByteArray> w = pending.left(nl).trimmed().split(' ');
      pending.remove(0, nl + 1);
      if (w.size() != 2) continue;
      const uint id = w[1].toUInt();
      if (w[0] == "click") emit n.ActionInvoked(id, QStringLiteral("default"));
      if (w[0] == "close") emit n.NotificationClosed(id, 2);
      Notifications::line("done " + w[0] + ' ' + w[1]);
    }
  });
  Notifications::line("ready");
  return app.exec();
}

#include "NotifyServer.moc"
