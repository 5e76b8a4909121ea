#pragma once
// The sign-in presets of the server dialog: for each mail provider its
// servers, ports, encryption and sign-in method, and for OAuth 2.0 its
// endpoints, scope and the client ID this program was registered under.
//
// They are data: providers.json is built into the program; a file of the
// same shape in the data folder (signin-providers.json) changes a preset
// field by field, by id, or adds presets of its own. The client ID (and
// the client secret a desktop app of Google carries openly) comes, first
// found, from the data folder's signin-clients.json, that folder's
// signin-providers.json, or what the packager built in
// (TOMOSHIBI_<ID>_CLIENT_ID / _CLIENT_SECRET).
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace signin {

struct Provider {
  QString id, name, authorizeUrl, tokenUrl, scope, clientId, clientSecret;
  QString pop3Server;  // as the server dialog holds it ("host:995")
  QString smtpServer;
  QString pop3Tls;     // "", "starttls", "implicit" as in "pelkit.ini"
  QString smtpTls;
  int signIn = 0;      // 0 password, 1 OAuth 2.0 (SIGNIN=)
  // Further parameters of the authorization request (Google's
  // access_type=offline, which brings a refresh token).
  QList<QPair<QString, QString>> authorizeParameters;

  // Endpoints and a client ID: a browser sign-in can be made.
  bool canSignIn() const { return !authorizeUrl.isEmpty() && !tokenUrl.isEmpty() && !clientId.isEmpty(); }
};

// The manual set-up's id; "" means the same.
inline const QString kOtherProvider = QStringLiteral("other");

// The data folder's files.
inline const QString kProvidersFile = QStringLiteral("★MAilData/signin-providers.json");
inline const QString kClientsFile = QStringLiteral("★MAilData/signin-clients.json");

// Presets read from a providers file's bytes onto `base`: an id already
// there gets the fields the file gives, a new id is added. A file that is
// not a JSON object with a "providers" array changes nothing and says why
// in `error`. Entries without an id, and fields of the wrong type, are
// skipped.
QList<Provider> mergeProviders(QList<Provider> base, const QByteArray& json, QString* error = nullptr);
// {"<id>": {"client_id": "...", "client_secret": "..."}} onto `base`.
QList<Provider> mergeClients(QList<Provider> base, const QByteArray& json, QString* error = nullptr);

// The built-in presets, then the data folder's files. Read each time (the
// files are small and the user may have just edited them).
QList<Provider> providers();
// The preset of `id` ("" = "other"), if there is one.
std::optional<Provider> findProvider(const QString& id);

// An endpoint the tokens may travel to: https, or http on the loopback
// (a local authorization server). Anything else is refused before a
// request is made.
bool endpointAllowed(const QString& url);

}  // namespace signin
