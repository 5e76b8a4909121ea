#include "MailSend.h"

#include "platform/Text.h"
#include "reception/maillib/MailLib.h"
#include "reception/words/MailWording.h"
#include "settings/files/AccountSettings.h"
#include "settings/secrets/Secrets.h"

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

// The link to the server, encryption required unless the user allowed
// this very server without (the server dialog's check box).
std::unique_ptr<maillib::SmtpLink> openLink(maillib::ServerAddress server) {
  server.plainAllowed = PlainLoginAllowed(AccountSettings().PlainSmtpServer, server.value);
  return maillib::openSmtpLink(server);
}

}  // namespace

SendOutcome SendOneMail(const QString& recipient, const QString& subject, const QString& body,
                        const QString& attachments, const QString& header) {
  const AccountSettingsRecord& s = AccountSettings();
  QString refused;
  const maillib::Credentials login = accountLogin(&refused);
  if (!refused.isEmpty()) return {false, false, refused};
  const maillib::SmtpAccess access{login, openLink};
  const int16_t result =
      int16_t(MailLibSmtpSendMail(s.SmtpServer, recipient, nullptr, nullptr, s.MailAddress, subject, body,
                                  header.isEmpty() ? nullptr : &header, attachments, 0, access));
  if (result >= 0) return {true, false, QString()};
  QString buffer(8192, QChar(u' '));
  int length = 8192;
  MailLibGetErrorText(0, buffer, length);
  return {false, result == kSmtpSendUncertain, text::CutAtNul(buffer)};
}
