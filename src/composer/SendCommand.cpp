#include "SendCommand.h"

#include "composer/MailSend.h"
#include "platform/Text.h"
#include "reception/MailLib.h"
#include "settings/AccountSettings.h"
#include "shell/CommandLine.h"

#include <QFile>
#include <QStringDecoder>
#include <cstdio>

namespace {

void printError(const QString& s) {
  std::fputs(s.toUtf8().constData(), stderr);
  std::fputc('\n', stderr);
}

// A text file as scripts write it (UTF-8), or as this program's own text
// files are written (Shift-JIS) when it is not valid UTF-8.
QString decodeText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8.decode(bytes);
  if (!utf8.hasError()) {
    if (s.startsWith(QChar(0xFEFF))) s.remove(0, 1);
    return s;
  }
  return text::fromCp932(bytes);
}

}  // namespace

int RunSendCommand(const CommandLine& cl) {
  QFile f;
  const bool fromStdin = cl.bodyFile == u"-";
  const bool opened = fromStdin ? f.open(stdin, QIODevice::ReadOnly) : (f.setFileName(cl.bodyFile), f.open(QIODevice::ReadOnly));
  if (!opened) {
    printError(QStringLiteral("本文のファイル「%1」を読み込めません。").arg(cl.bodyFile));
    return 1;
  }
  const QString body = decodeText(f.readAll());
  f.close();

  LoadServerSettings();
  const AccountFileValues account = ReadAccountFile();
  AccountSettings().UserId = account.id;
  AccountSettings().Password = account.password;

  MailLibInitialize();
  const SendOutcome outcome = SendOneMail(cl.to, cl.subject, body, cl.attach);
  MailLibEnd();
  if (!outcome.ok) {
    printError(outcome.error);
    return 1;
  }
  return 0;
}
