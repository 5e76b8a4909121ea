// The sign-in presets a data folder may change or add to
// (signin-providers.json) and the client IDs beside them
// (signin-clients.json), as a hand edit or another program leaves them.
// The first line of the input is the clients file, the rest the presets.
//
// Checks: a file that is refused changes nothing; the built-in presets are
// all still there, first and in their order; ids stay unique and never
// empty; reading the same file twice gives what reading it once gave; the
// clients file changes client IDs and secrets only; every text has whole
// surrogate pairs.
#include "FuzzCheck.h"
#include "settings/signin/Providers.h"

#include <QSet>

using namespace fuzzcheck;
using signin::Provider;

namespace {

QList<Provider> base() {
  Provider ms;
  ms.id = QStringLiteral("microsoft");
  ms.name = QStringLiteral("Microsoft");
  ms.authorizeUrl = QStringLiteral("https://login.example.com/authorize");
  ms.tokenUrl = QStringLiteral("https://login.example.com/token");
  ms.scope = QStringLiteral("offline_access");
  ms.pop3Server = QStringLiteral("pop.example.com:995");
  ms.smtpServer = QStringLiteral("smtp.example.com:587");
  ms.pop3Tls = QStringLiteral("implicit");
  ms.smtpTls = QStringLiteral("starttls");
  ms.signIn = 1;
  Provider other;
  other.id = QStringLiteral("other");
  other.name = QStringLiteral("その他");
  return {ms, other};
}

bool same(const Provider& a, const Provider& b) {
  return a.id == b.id && a.name == b.name && a.authorizeUrl == b.authorizeUrl && a.tokenUrl == b.tokenUrl &&
         a.scope == b.scope && a.clientId == b.clientId && a.clientSecret == b.clientSecret &&
         a.pop3Server == b.pop3Server && a.smtpServer == b.smtpServer && a.pop3Tls == b.pop3Tls &&
         a.smtpTls == b.smtpTls && a.signIn == b.signIn && a.authorizeParameters == b.authorizeParameters;
}

bool same(const QList<Provider>& a, const QList<Provider>& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (!same(a[i], b[i])) return false;
  return true;
}

void checkList(const QList<Provider>& list, const QList<Provider>& from) {
  FUZZ_CHECK(list.size() >= from.size(), QStringLiteral("presets lost"));
  QSet<QString> ids;
  for (qsizetype i = 0; i < list.size(); ++i) {
    const Provider& p = list[i];
    if (i < from.size()) FUZZ_CHECK(p.id == from[i].id, QStringLiteral("a preset moved or lost: ") + from[i].id);
    FUZZ_CHECK(!p.id.isEmpty(), QStringLiteral("a preset without an id"));
    FUZZ_CHECK(!ids.contains(p.id), QStringLiteral("two presets of one id: ") + p.id);
    ids.insert(p.id);
    for (const QString* s : {&p.id, &p.name, &p.authorizeUrl, &p.tokenUrl, &p.scope, &p.clientId, &p.clientSecret,
                             &p.pop3Server, &p.smtpServer, &p.pop3Tls, &p.smtpTls})
      checkText(*s, "a field of a preset");
    for (const auto& [key, value] : p.authorizeParameters) {
      checkText(key, "a parameter name");
      checkText(value, "a parameter value");
    }
    // Asked of every preset before a request goes anywhere.
    (void)signin::endpointAllowed(p.tokenUrl);
    (void)signin::endpointAllowed(p.authorizeUrl);
    (void)p.canSignIn();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Split in = splitFirstLine(bytesOf(data, size), 4096);
  const QList<Provider> start = base();

  QString error;
  const QList<Provider> merged = signin::mergeProviders(start, in.rest, &error);
  checkText(error, "why a presets file was refused");
  if (!error.isEmpty()) FUZZ_CHECK(same(merged, start), QStringLiteral("a refused file changed the presets"));
  checkList(merged, start);
  FUZZ_CHECK(same(signin::mergeProviders(merged, in.rest), merged),
             QStringLiteral("the presets change when the same file is read again"));

  QString clientError;
  const QList<Provider> clients = signin::mergeClients(merged, in.head, &clientError);
  checkText(clientError, "why a clients file was refused");
  checkList(clients, merged);
  FUZZ_CHECK(clients.size() == merged.size(), QStringLiteral("the clients file added presets"));
  for (qsizetype i = 0; i < clients.size(); ++i) {
    Provider p = clients[i];
    p.clientId = merged[i].clientId;
    p.clientSecret = merged[i].clientSecret;
    FUZZ_CHECK(same(p, merged[i]), QStringLiteral("the clients file changed more than a client: ") + p.id);
    if (!clientError.isEmpty()) FUZZ_CHECK(same(clients[i], merged[i]), QStringLiteral("a refused clients file changed ") + p.id);
  }
  return 0;
}
