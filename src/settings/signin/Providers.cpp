#include "Providers.h"

#include "platform/Paths.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

// Outside any namespace, as Qt's resource initialiser must be.
static void loadBuiltInPresets() { Q_INIT_RESOURCE(signin); }

namespace signin {
namespace {

void takeString(const QJsonObject& o, const char* key, QString* into) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isString()) *into = v.toString().trimmed();
}

void apply(const QJsonObject& o, Provider* p) {
  takeString(o, "name", &p->name);
  takeString(o, "pop3", &p->pop3Server);
  takeString(o, "smtp", &p->smtpServer);
  takeString(o, "pop3_tls", &p->pop3Tls);
  takeString(o, "smtp_tls", &p->smtpTls);
  takeString(o, "authorize_url", &p->authorizeUrl);
  takeString(o, "token_url", &p->tokenUrl);
  takeString(o, "scope", &p->scope);
  takeString(o, "client_id", &p->clientId);
  takeString(o, "client_secret", &p->clientSecret);
  const QJsonValue signIn = o.value(QLatin1String("sign_in"));
  if (signIn.isString()) p->signIn = signIn.toString() == u"oauth2" ? 1 : 0;
  for (QString* tls : {&p->pop3Tls, &p->smtpTls})
    if (*tls != u"implicit" && *tls != u"starttls") tls->clear();
  const QJsonValue extra = o.value(QLatin1String("authorize_parameters"));
  if (extra.isObject()) {
    p->authorizeParameters.clear();
    const QJsonObject e = extra.toObject();
    for (auto it = e.begin(); it != e.end(); ++it)
      if (it.value().isString()) p->authorizeParameters.append({it.key(), it.value().toString()});
  }
}

std::optional<QJsonObject> object(const QByteArray& json, QString* error) {
  QJsonParseError parsed;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parsed);
  if (parsed.error != QJsonParseError::NoError) {
    if (error) *error = parsed.errorString() + QStringLiteral(" (%1)").arg(parsed.offset);
    return std::nullopt;
  }
  if (!doc.isObject()) {
    if (error) *error = QStringLiteral("not a JSON object");
    return std::nullopt;
  }
  return doc.object();
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.read(1024 * 1024);
}

// What the packager built in, for a preset of that id.
void builtInClient(Provider* p) {
#ifdef TOMOSHIBI_MICROSOFT_CLIENT_ID
  if (p->id == u"microsoft" && p->clientId.isEmpty()) p->clientId = QStringLiteral(TOMOSHIBI_MICROSOFT_CLIENT_ID);
#endif
#ifdef TOMOSHIBI_GOOGLE_CLIENT_ID
  if (p->id == u"google" && p->clientId.isEmpty()) p->clientId = QStringLiteral(TOMOSHIBI_GOOGLE_CLIENT_ID);
#endif
#ifdef TOMOSHIBI_GOOGLE_CLIENT_SECRET
  if (p->id == u"google" && p->clientSecret.isEmpty()) p->clientSecret = QStringLiteral(TOMOSHIBI_GOOGLE_CLIENT_SECRET);
#endif
  Q_UNUSED(p);
}

}  // namespace

QList<Provider> mergeProviders(QList<Provider> base, const QByteArray& json, QString* error) {
  const std::optional<QJsonObject> root = object(json, error);
  if (!root) return base;
  const QJsonValue list = root->value(QLatin1String("providers"));
  if (!list.isArray()) {
    if (error) *error = QStringLiteral("no \"providers\" array");
    return base;
  }
  for (const QJsonValue& v : list.toArray()) {
    if (!v.isObject()) continue;
    const QJsonObject o = v.toObject();
    const QString id = o.value(QLatin1String("id")).toString().trimmed().toLower();
    if (id.isEmpty()) continue;
    auto it = std::find_if(base.begin(), base.end(), [&](const Provider& p) { return p.id == id; });
    if (it == base.end()) {
      Provider p;
      p.id = id;
      p.name = id;
      apply(o, &p);
      base.append(p);
    } else {
      apply(o, &*it);
    }
  }
  return base;
}

QList<Provider> mergeClients(QList<Provider> base, const QByteArray& json, QString* error) {
  const std::optional<QJsonObject> root = object(json, error);
  if (!root) return base;
  for (Provider& p : base) {
    const QJsonValue v = root->value(p.id);
    if (!v.isObject()) continue;
    takeString(v.toObject(), "client_id", &p.clientId);
    takeString(v.toObject(), "client_secret", &p.clientSecret);
  }
  return base;
}

QList<Provider> providers() {
  loadBuiltInPresets();
  QList<Provider> list = mergeProviders({}, readFile(QStringLiteral(":/signin/providers.json")));
  list = mergeProviders(list, readFile(paths::resolve(kProvidersFile)));
  // The clients file wins over everything; what the packager built in
  // fills only what no file gave.
  list = mergeClients(list, readFile(paths::resolve(kClientsFile)));
  for (Provider& p : list) builtInClient(&p);
  return list;
}

std::optional<Provider> findProvider(const QString& id) {
  const QString wanted = id.trimmed().isEmpty() ? kOtherProvider : id.trimmed().toLower();
  for (const Provider& p : providers())
    if (p.id == wanted) return p;
  return std::nullopt;
}

bool endpointAllowed(const QString& url) {
  const QUrl u(url, QUrl::StrictMode);
  if (!u.isValid() || u.host().isEmpty() || !u.userInfo().isEmpty()) return false;
  if (u.scheme() == u"https") return true;
  if (u.scheme() != u"http") return false;
  const QHostAddress host(u.host());
  return host.isLoopback() || u.host() == u"localhost";
}

}  // namespace signin
