// What a POP3 server says, whatever it says: the greeting, CAPA, the login
// replies (USER/PASS, APOP, and the bearer-token exchange with its SASL
// error challenge), LIST, UIDL, the messages of RETR and the answers to
// DELE and QUIT, over a connection that hands the bytes over in pieces.
//
// Input: a first byte (the login: 0 password, 1 APOP, 2 token, 3 a token
// too long for the command line; 4 a connection in clear; the upper bits
// the size of the pieces), the greeting line, then everything the server
// sends.
//
// Checks: the whole session goes the same whether the bytes come at once or
// in small pieces (the line and message readers lose nothing at a piece's
// end); IDs handed out are IDs as RFC 1939 has them; no message passes the
// limit; no failure quotes the token, in clear or in the base64 it was sent
// in (they are taken out before a reply is cut short); every failure text
// has whole surrogate pairs.
#include "FuzzCheck.h"
#include "reception/maillib/Pop3Session.h"
#include "reception/maillib/Sasl.h"

#include <QStringList>
#include <algorithm>
#include <memory>

using namespace fuzzcheck;
using maillib::Pop3Session;

namespace {

const QByteArray kUser = "user@example.jp";
const QByteArray kToken = "ya29.a0AfH6SMBxTokenQz9f8e7d6c5b4a3";

class PieceLink : public maillib::Pop3Link {
 public:
  PieceLink(QByteArray stream, qsizetype piece, bool encrypted)
      : stream_(std::move(stream)), piece_(piece), encrypted_(encrypted) {}
  bool send(const QByteArray& bytes, maillib::Result*) override {
    sent_ += bytes;
    return true;
  }
  const QByteArray& sent() const { return sent_; }
  bool receive(QByteArray& buffer, maillib::Result* failure) override {
    if (at_ >= stream_.size()) {
      *failure = maillib::failed(maillib::Code::ConnectionBroken, QStringLiteral("pop.example.jp"));
      return false;
    }
    const qsizetype n = std::min(piece_, stream_.size() - at_);
    buffer.append(stream_.constData() + at_, n);
    at_ += n;
    return true;
  }
  bool encrypted() const override { return encrypted_; }

 private:
  QByteArray stream_;
  QByteArray sent_;
  qsizetype piece_;
  qsizetype at_ = 0;
  bool encrypted_;
};

// RFC 1939: 1 to 70 characters from 0x21 to 0x7E; "-" is kept for none.
bool plausibleUid(const QByteArray& uid) {
  if (uid.isEmpty() || uid.size() > 70 || uid == "-") return false;
  for (char c : uid)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// The token in clear and in the base64 of either mechanism. A near copy (a
// server that changed a byte of it) is the server's own text.
QStringList secretPieces(const QByteArray& token) {
  QStringList pieces{QString::fromLatin1(token)};
  for (auto m : {maillib::sasl::BearerMechanism::OAuthBearer, maillib::sasl::BearerMechanism::XOAuth2})
    pieces << QString::fromLatin1(maillib::sasl::initialResponse(m, kUser, token).toBase64());
  return pieces;
}

QString describe(const maillib::Result& r) {
  return QStringLiteral("code %1 detail \"%2\" cause \"%3\" reply \"%4\"")
      .arg(int(r.code))
      .arg(r.detail, r.cause, r.reply);
}

// `secrets` those the server was sent: a server that was never sent the
// token cannot echo it.
void checkFailure(const maillib::Result& r, const QStringList& secrets, const QByteArray& sent) {
  const bool tokenSent = std::any_of(secrets.cbegin(), secrets.cend(), [&](const QString& s) { return sent.contains(s.toLatin1()); });
  for (const QString* t : {&r.detail, &r.cause, &r.reply}) {
    checkText(*t, "a failure's text");
    for (const QString& s : secrets)
      if (tokenSent) FUZZ_CHECK(!t->contains(s), QStringLiteral("the token quoted in a failure: ") + describe(r));
  }
}

// The session, written down step by step.
QStringList session(const QByteArray& greeting, const QByteArray& stream, qsizetype piece, int login,
                    bool encrypted) {
  const QByteArray token = login == 3 ? kToken.repeated(9) : kToken;
  const QStringList secrets = login >= 2 ? secretPieces(token) : QStringList();
  auto link = std::make_unique<PieceLink>(stream, piece, encrypted);
  const PieceLink* wire = link.get();
  Pop3Session s(std::move(link), greeting, QStringLiteral("pop.example.jp"));
  QStringList log;
  s.readCapabilities();
  log << QStringLiteral("capa %1 %2").arg(s.pipelines()).arg(s.alive());
  maillib::Credentials c{QString::fromLatin1(kUser), QStringLiteral("パスワード"),
                         login == 1 ? maillib::Mechanism::Apop : maillib::Mechanism::Password};
  if (login >= 2) c = maillib::Credentials::bearer(QString::fromLatin1(kUser), QString::fromLatin1(token));
  const int n = s.login(c);
  log << QStringLiteral("login %1 ").arg(n) + describe(s.failure());
  checkFailure(s.failure(), secrets, wire->sent());
  // A token never crosses a connection in clear.
  if (!encrypted)
    for (const QString& secret : secrets)
      FUZZ_CHECK(!wire->sent().contains(secret.toLatin1()), QStringLiteral("the token sent in clear"));
  if (n > 0) {
    FUZZ_CHECK(n <= 1000000, QStringLiteral("%1 messages").arg(n));
    for (int i = 1; i <= std::min(n, 50); ++i) log << QStringLiteral("size %1 %2").arg(i).arg(s.size(i));
    QList<QByteArray> uids;
    const bool listed = s.uniqueIds(&uids);
    log << QStringLiteral("uidl %1 %2 ").arg(listed).arg(uids.size()) + describe(s.failure());
    if (listed) {
      FUZZ_CHECK(uids.size() == n, QStringLiteral("%1 IDs for %2 messages").arg(uids.size()).arg(n));
      for (const QByteArray& u : uids) {
        FUZZ_CHECK(u.isEmpty() || plausibleUid(u), QStringLiteral("an ID of another shape: ") + QString::fromLatin1(u.toPercentEncoding()));
        log << QString::fromLatin1(u);
      }
    }
    const int k = std::min(n, 4);
    auto answer = [&] {
      Pop3Session::Answer a;
      QByteArray message;
      const bool ok = s.next(&a, &message);
      FUZZ_CHECK(message.size() <= maillib::pop3Limits().maxMail, QStringLiteral("a message past the limit"));
      FUZZ_CHECK(!a.tooLarge || message.isEmpty(), QStringLiteral("a message too large, yet kept"));
      log << QStringLiteral("answer %1 %2 %3 %4 %5 ").arg(ok).arg(int(a.command)).arg(a.number).arg(a.ok).arg(a.tooLarge) +
                 QString::fromLatin1(a.status.toPercentEncoding()) + u' ' + QString::fromLatin1(message.toBase64());
      return ok;
    };
    for (int i = 1; i <= k && s.alive(); ++i) {
      s.queue(Pop3Session::Command::Retr, i);
      s.queue(Pop3Session::Command::Dele, i);
      if (!s.pipelines())
        while (s.awaiting() > 0 && answer()) {
        }
    }
    while (s.alive() && s.awaiting() > 0 && answer()) {
    }
  }
  bool answered = false;
  log << QStringLiteral("quit %1 %2 ").arg(s.quit(&answered)).arg(answered) + describe(s.failure());
  checkFailure(s.failure(), secrets, wire->sent());
  return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const int login = mode & 3;
  const bool encrypted = !(mode & 4);
  const qsizetype piece = 1 + (mode >> 3);
  const Split in = splitFirstLine(bytesOf(data + 1, size - 1), 512);
  const QByteArray greeting = in.head + '\n';
  const QStringList whole = session(greeting, in.rest, in.rest.size() + 1, login, encrypted);
  const QStringList pieces = session(greeting, in.rest, piece, login, encrypted);
  if (whole != pieces) {
    for (qsizetype i = 0; i < std::max(whole.size(), pieces.size()); ++i)
      if (whole.value(i) != pieces.value(i))
        FUZZ_CHECK(false, QStringLiteral("in pieces of %1 bytes the session went otherwise at step %2:\n  %3\n  %4")
                              .arg(piece)
                              .arg(i)
                              .arg(whole.value(i), pieces.value(i)));
  }
  return 0;
}
