#include "MailSend.h"

#include "platform/Text.h"
#include "reception/maillib/MailLib.h"
#include "reception/maillib/TlsCertificate.h"
#include "reception/words/MailWording.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/PinnedKeys.h"
#include "settings/secrets/Secrets.h"
#include "settings/signin/AccessToken.h"
#include "store/RecordFile.h"
#include "store/sent/SentStore.h"
#include "store/words/StoreWords.h"

#include <QDir>

#include <cstdint>

namespace {

// The account's ID and password: what was confirmed in this run, else
// what the account file (or the keyring) holds. A window sends: the
// keyring may ask to be unlocked. Empty, with the reason in `refused`, when
// the keyring keeps the password back.
maillib::Credentials accountLogin(QString* refused) {
  const AccountSettingsRecord& s = AccountSettings();
  if (!s.UserId.isEmpty()) return {s.UserId, s.Password};
  const AccountFileValues v = ReadAccountFile(secrets::Prompt::Allowed);
  if (v.status == secrets::Status::Locked || v.status == secrets::Status::Failed) {
    *refused = wording::keyringFailure(v.status, v.detail, true);
    return {};
  }
  return {v.id, v.password};
}

// The server as the account reaches it: encryption required unless the
// user allowed this very server without (the server dialog's check box),
// and the key the user trusted for it, if any.
maillib::ServerAddress withPermissions(maillib::ServerAddress server) {
  server.plainAllowed = PlainLoginAllowed(AccountSettings().PlainSmtpServer, server.value);
  // The encryption the user chose over what the port suggests.
  if (AccountSettings().SmtpTls == u"implicit")
    server.implicitTls = true;
  else if (AccountSettings().SmtpTls == u"starttls")
    server.implicitTls = false;
  if (const std::optional<pins::Pin> pin = pins::find(server.host, server.port)) {
    server.pinnedKey = pin->key;
    server.pinnedAnyName = pin->anyName;
  }
  return server;
}

std::unique_ptr<maillib::SmtpLink> openLink(const maillib::ServerAddress& server) {
  return maillib::openSmtpLink(withPermissions(server));
}

// A send refused for the server's certificate: the certificate fetched for
// the user to judge, on a connection that ends after the handshake. One
// that does not carry the pinned key means the key has changed.
void examineCertificate(const maillib::Result& refused, SendOutcome* outcome) {
  const std::optional<maillib::ServerAddress> parsed =
      maillib::parseServer(AccountSettings().SmtpServer, maillib::Protocol::Smtp);
  if (!parsed) return;
  const maillib::ServerAddress server = withPermissions(*parsed);
  const std::optional<ServerCertificate> shown = tls::fetchCertificate(server);
  if (!shown) return;
  if (!tls::matchesPin(*shown, server)) {
    maillib::Result changed = refused;
    changed.code = maillib::Code::PinnedKeyChanged;
    outcome->error = wording::sendFailure(changed);
    return;
  }
  outcome->unverified = *shown;
  outcome->error += u'\n' + wording::certificateSummary(*shown);
}

// No access token for an account signed in with OAuth 2.0: nothing was
// sent, and no password is tried in its place.
SendOutcome tokenFailure(const signin::Token& token, secrets::Prompt prompt) {
  SendOutcome outcome;
  switch (token.status) {
    case signin::TokenStatus::NeedsSignIn:
      outcome.needsSignIn = true;
      outcome.error = wording::signInNeeded(token.user);
      break;
    case signin::TokenStatus::KeyringLocked:
      outcome.needsSignIn = true;
      outcome.error = wording::tokenLocked(prompt == secrets::Prompt::Allowed);
      break;
    default:
      outcome.error = wording::tokenUnavailable(token.detail, token.status == signin::TokenStatus::Unreachable);
      break;
  }
  return outcome;
}

}  // namespace

SendOutcome SendOneMail(const QString& recipient, const QString& subject, const QString& body,
                        const QString& attachments, const QString& header, secrets::Prompt prompt,
                        maillib::SmtpSession* session) {
  if (AccountSettings().SignIn == 1) {
    for (bool again : {false, true}) {
      const signin::Token token = signin::accessToken(prompt, again);
      if (token.status != signin::TokenStatus::Ok) return tokenFailure(token, prompt);
      SendOutcome outcome = SendOneMailAs(maillib::Credentials::bearer(token.user, token.accessToken), recipient,
                                          subject, body, attachments, header, session);
      if (!outcome.tokenRefused) return outcome;
      if (again) {
        // A fresh token refused as well: only signing in again can help.
        outcome.needsSignIn = true;
        outcome.error += u'\n' + wording::signInNeeded(token.user);
        return outcome;
      }
    }
  }
  QString refused;
  const maillib::Credentials login = accountLogin(&refused);
  if (!refused.isEmpty()) {
    SendOutcome kept;
    kept.error = refused;
    return kept;
  }
  return SendOneMailAs(login, recipient, subject, body, attachments, header, session);
}

SendOutcome SendOneMailAs(const maillib::Credentials& login, const QString& recipient, const QString& subject,
                          const QString& body, const QString& attachments, const QString& header,
                          maillib::SmtpSession* session) {
  const AccountSettingsRecord& s = AccountSettings();
  const maillib::SmtpAccess access{login, openLink, session};
  const int16_t result =
      int16_t(MailLibSmtpSendMail(s.SmtpServer, recipient, nullptr, nullptr, s.MailAddress, subject, body,
                                  header.isEmpty() ? nullptr : &header, attachments, 0, access));
  if (result >= 0) {
    // Accepted: kept as it went out, whatever window or command sent it.
    SendOutcome sent{true, false, QString()};
    const QByteArray& message = MailLibSmtpLastMessage();
    sent.notKept = sent::keep(message, sent::sentRecord(message, recipient, subject, body));
    return sent;
  }
  QString buffer(8192, QChar(u' '));
  int length = 8192;
  MailLibGetErrorText(0, buffer, length);
  SendOutcome outcome{false, result == kSmtpSendUncertain, text::CutAtNul(buffer)};
  const maillib::Result& why = MailLibSmtpLastResult();
  outcome.tokenRefused = why.code == maillib::Code::TokenRefused;
  if (why.code == maillib::Code::CertificateUnverified) examineCertificate(why, &outcome);
  return outcome;
}

QString notKeptText(const SendOutcome& outcome) {
  const received::Fault& f = outcome.notKept;
  if (!f) return QString();
  QString why;
  if (f.code == received::Code::RecordsFull)
    why = QStringLiteral("送信済みメールが %1 件に達しています。古いものを削除して下さい").arg(store::kMaxRecords);
  else if (f.code == received::Code::Records)
    why = store::failureText(f.records);
  if (why.endsWith(u'。')) why.chop(1);
  else if (!f.path.isEmpty())
    why = QDir::toNativeSeparators(f.path) + (f.detail.isEmpty() ? QString() : QStringLiteral("：") + f.detail);
  else
    why = f.detail;
  return QStringLiteral("メールは送信しましたが、送信済みメールに残せませんでした") +
         (why.isEmpty() ? QString() : QStringLiteral("（%1）").arg(why)) + u'。';
}
