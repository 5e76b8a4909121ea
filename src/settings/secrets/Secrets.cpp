#include "Secrets.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QFileInfo>
#include <QMap>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace secrets {
namespace {

const QString kSecretsName = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
// Questions to the bus itself or to a running Secret Service: answered in
// milliseconds, unless something hangs.
constexpr int kBusCallMs = 2000;

using Attributes = QMap<QString, QString>;

// Where the Secret Service stands on the session bus.
struct Probe {
  enum State { NoBus, Absent, Activatable, Running } state = NoBus;
  QString owner;  // its unique name when running
};

// A session bus the program could reach without starting one: an address
// given, or the user's bus in the runtime folder. Without either the bus
// library would try to launch a bus of its own.
bool busReachable() {
  const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!address.isEmpty()) {
    // A bus behind a socket file that is not there is not asked: Qt would
    // start its bus thread only to find nobody.
    if (address.startsWith(u"unix:path=") && !address.contains(u',') && !address.contains(u';'))
      return QFileInfo::exists(address.mid(10));
    return true;
  }
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// One call that starts nothing on demand and waits at most kBusCallMs,
// without running an event loop.
QDBusMessage busCall(const QString& service, const QString& path, const QString& interface, const QString& method,
                     const QVariantList& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
  m.setAutoStartService(false);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m, QDBus::Block, kBusCallMs);
}

bool answered(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

Probe probe() {
  if (!busReachable() || !QDBusConnection::sessionBus().isConnected()) return {};
  const QString bus = QStringLiteral("org.freedesktop.DBus");
  const QString busPath = QStringLiteral("/org/freedesktop/DBus");
  QDBusMessage reply = busCall(bus, busPath, bus, QStringLiteral("GetNameOwner"), {kSecretsName});
  if (answered(reply)) return {Probe::Running, reply.arguments().constFirst().toString()};
  reply = busCall(bus, busPath, bus, QStringLiteral("ListActivatableNames"));
  if (answered(reply) && reply.arguments().constFirst().toStringList().contains(kSecretsName))
    return {Probe::Activatable, QString()};
  return {Probe::Absent, QString()};
}

// Whether handing `key` over would need an unlock: the default collection
// (where new items go and where this program's items live) is locked, or
// the item is found in a locked collection only. Asked of the running
// service by its unique name, so nothing is started or prompted.
bool needsUnlock(const QString& owner, const QString& key) {
  QDBusMessage reply = busCall(owner, kServicePath, kServiceInterface, QStringLiteral("ReadAlias"),
                               {QStringLiteral("default")});
  if (answered(reply)) {
    const QString collection = qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
    if (!collection.isEmpty() && collection != u"/") {
      reply = busCall(owner, collection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                      {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
      if (answered(reply) && qdbus_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool()) return true;
    }
  }
  static const QMetaType registered = qDBusRegisterMetaType<Attributes>();
  Q_UNUSED(registered);
  const Attributes attributes{{QStringLiteral("user"), key}, {QStringLiteral("server"), kService}};
  reply = busCall(owner, kServicePath, kServiceInterface, QStringLiteral("SearchItems"),
                  {QVariant::fromValue(attributes)});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return false;
  const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
  const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
  return unlocked.isEmpty() && !locked.isEmpty();
}

struct JobEnd {
  bool finished = false;
  QKeychain::Error error = QKeychain::NoError;
  QString errorString;
  QString text;
};

// Runs one QtKeychain job to its end or to the time limit. The job deletes
// itself when it finishes; one that is given up on is left to finish (its
// backend still holds it), its answer unheard.
JobEnd runJob(QKeychain::Job* job, int waitMs) {
  JobEnd end;
  QEventLoop loop;
  job->setAutoDelete(true);
  job->setInsecureFallback(false);  // never a plain-text file instead
  QObject::connect(job, &QKeychain::Job::finished, &loop, [&end, &loop](QKeychain::Job* j) {
    end.finished = true;
    end.error = j->error();
    end.errorString = j->errorString();
    if (auto* r = qobject_cast<QKeychain::ReadPasswordJob*>(j)) end.text = r->textData();
    loop.quit();
  });
  QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
  job->start();
  // The user cannot start another keyring call from a window meanwhile.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  return end;
}

Status statusOf(const JobEnd& end, QString* detail) {
  if (!end.finished) {
    if (detail) *detail = QStringLiteral("キーリングが応答しません");
    return Status::Failed;
  }
  if (detail && end.error != QKeychain::NoError) *detail = end.errorString;
  switch (end.error) {
    case QKeychain::NoError:
      return Status::Ok;
    case QKeychain::EntryNotFound:
      return Status::Missing;
    case QKeychain::AccessDenied:
      return Status::Locked;
    case QKeychain::NoBackendAvailable:
      return Status::NoKeyring;
    default:
      return Status::Failed;
  }
}

}  // namespace

bool keyringAvailable() {
  const Probe p = probe();
  return p.state == Probe::Running || p.state == Probe::Activatable;
}

Read read(const QString& key, Prompt prompt) {
  const Probe p = probe();
  if (p.state == Probe::NoBus || p.state == Probe::Absent) return {Status::NoKeyring, QString(), QString()};
  if (prompt == Prompt::Never) {
    // Started on demand, a keyring comes up locked; it is not started here.
    if (p.state != Probe::Running)
      return {Status::Locked, QString(), QStringLiteral("キーリングが起動していません")};
    if (needsUnlock(p.owner, key)) return {Status::Locked, QString(), QStringLiteral("キーリングがロックされています")};
  }
  auto* job = new QKeychain::ReadPasswordJob(kService);
  job->setKey(key);
  const JobEnd end = runJob(job, prompt == Prompt::Never ? kNeverWaitMs : kAllowedWaitMs);
  Read r;
  r.status = statusOf(end, &r.detail);
  if (r.status == Status::Ok) {
    r.value = end.text;
  } else if (r.status == Status::Missing && prompt == Prompt::Allowed) {
    // An unlock that was asked for and not given looks like an item not
    // found: the keyring still locked tells them apart.
    const Probe after = probe();
    if (after.state == Probe::Running && needsUnlock(after.owner, key)) {
      r.status = Status::Locked;
      r.detail = QStringLiteral("キーリングのロックが解除されませんでした");
    }
  }
  return r;
}

Status write(const QString& key, const QString& value, QString* detail) {
  const Probe p = probe();
  if (p.state == Probe::NoBus || p.state == Probe::Absent) return Status::NoKeyring;
  auto* job = new QKeychain::WritePasswordJob(kService);
  job->setKey(key);
  job->setTextData(value);
  return statusOf(runJob(job, kAllowedWaitMs), detail);
}

Status remove(const QString& key, QString* detail) {
  const Probe p = probe();
  if (p.state == Probe::NoBus || p.state == Probe::Absent) return Status::NoKeyring;
  // Removing passes over items in a locked collection without asking to
  // unlock it, and would answer Ok with the item still there.
  if (p.state == Probe::Running && needsUnlock(p.owner, key)) {
    if (detail) *detail = QStringLiteral("キーリングがロックされています");
    return Status::Locked;
  }
  auto* job = new QKeychain::DeletePasswordJob(kService);
  job->setKey(key);
  const Status s = statusOf(runJob(job, kAllowedWaitMs), detail);
  return s == Status::Missing ? Status::Ok : s;
}

QString passwordKey(const QString& userId, const QString& pop3Server) {
  return QStringLiteral("password:%1@%2").arg(userId, pop3Server.trimmed());
}

QString refreshTokenKey(const QString& user, const QString& issuer) {
  return QStringLiteral("refresh-token:%1@%2").arg(user.trimmed(), issuer.trimmed());
}

}  // namespace secrets
