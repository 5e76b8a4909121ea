#include "MailSend.h"

#include "platform/Text.h"
#include "reception/maillib/MailLib.h"
#include "settings/AccountSettings.h"

#include <cstdint>

SendOutcome SendOneMail(const QString& recipient, const QString& subject, const QString& body,
                        const QString& attachments, const QString& header) {
  const AccountSettingsRecord& s = AccountSettings();
  const int16_t result =
      int16_t(MailLibSmtpSendMail(s.SmtpServer, recipient, nullptr, nullptr, s.MailAddress, subject, body,
                                  header.isEmpty() ? nullptr : &header, attachments, 0));
  if (result >= 0) return {true, false, QString()};
  QString buffer(8192, QChar(u' '));
  int length = 8192;
  MailLibGetErrorText(0, buffer, length);
  return {false, result == kSmtpSendUncertain, text::CutAtNul(buffer)};
}
