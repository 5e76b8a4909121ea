// Sending one mail over SMTP with libcurl: one connection per call, AUTH
// when the server offers it, STARTTLS required (MailLibCommon).
#include "MailLib.h"
#include "MailLibCommon.h"
#include "MimeBuild.h"
#include "settings/AccountSettings.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <algorithm>
#include <cstring>
#include <curl/curl.h>

namespace {

// What the server said, command by command, so that a failure can name the
// step and quote the reply. Credentials sent during AUTH are never kept.
struct Transcript {
  QByteArray command;  // the last command sent ("AUTH" only for a login)
  QByteArray reply;    // the server's reply to it, all lines
  bool closing = false;
  qint64 bodyBytesOut = 0;  // of the mail, written to the connection

  QByteArray lastReplyLine() const { return reply.trimmed().split('\n').last().trimmed(); }
  int replyCode() const { return lastReplyLine().left(3).toInt(); }
};

bool isCommand(const QByteArray& line) {
  static const char* const verbs[] = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "RSET", "QUIT", "NOOP"};
  const QByteArray upper = line.left(8).toUpper();
  for (const char* v : verbs)
    if (upper.startsWith(v)) return true;
  return false;
}

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* t = static_cast<Transcript*>(user);
  const QByteArray text(data, qsizetype(size));
  if (type == CURLINFO_HEADER_OUT) {
    // Lines of an AUTH exchange carry credentials: answers to a 334
    // challenge, and anything that is not a command. What follows is the
    // server's answer to them.
    if (!isCommand(text) || (t->command == "AUTH" && t->lastReplyLine().startsWith("334"))) {
      t->reply.clear();
      return 0;
    }
    // The closing QUIT (sent after a refusal, too) and its answer say
    // nothing about what went wrong.
    if (text.toUpper().startsWith("QUIT")) t->closing = true;
    if (t->closing) return 0;
    t->command = text.toUpper().startsWith("AUTH") ? QByteArrayLiteral("AUTH") : text.trimmed();
    t->reply.clear();
  } else if (type == CURLINFO_HEADER_IN && !t->closing) {
    t->reply += text;
  } else if (type == CURLINFO_DATA_OUT) {
    t->bodyBytesOut += qint64(size);
  }
  return 0;
}

struct Upload {
  const QByteArray* data;
  qsizetype pos = 0;
};

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* u = static_cast<Upload*>(user);
  const size_t n = std::min(size * count, size_t(u->data->size() - u->pos));
  memcpy(buffer, u->data->constData() + u->pos, n);
  u->pos += qsizetype(n);
  return n;
}

// The name given in EHLO: this machine's name when it is a plain host name.
QByteArray ehloName() {
  static const QByteArray name = [] {
    const QByteArray host = QSysInfo::machineHostName().toLatin1();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    return plain.match(QString::fromLatin1(host)).hasMatch() ? host : QByteArrayLiteral("localhost");
  }();
  return name;
}

// The account's ID and password: what was confirmed in this run, else
// what the account file holds.
std::pair<QString, QString> credentials() {
  const AccountSettingsRecord& s = AccountSettings();
  if (!s.UserId.isEmpty()) return {s.UserId, s.Password};
  const AccountFileValues v = ReadAccountFile();
  return {v.id, v.password};
}

QString failureText(CURLcode rc, const Transcript& t, const QString& host) {
  const QString reply = QString::fromUtf8(t.reply).trimmed();
  const int code = t.replyCode();
  if (rc != CURLE_LOGIN_DENIED && code >= 400) {
    const QString cmd = QString::fromUtf8(t.command);
    const QString arg = cmd.section(u'<', 1).section(u'>', 0, 0);
    QString why;
    if (cmd.startsWith(u"RCPT")) {
      why = QStringLiteral("宛先 <%1> はサーバー「%2」に受け付けられませんでした。").arg(arg, host);
    } else if (cmd.startsWith(u"MAIL") && code == 530) {
      why = QStringLiteral("サーバー「%1」は、ログイン（SMTP認証）しないと送信を受け付けません。"
                           "IDとパスワードを確かめて下さい。")
                .arg(host);
    } else if (cmd.startsWith(u"MAIL")) {
      why = QStringLiteral("差出人 <%1> はサーバー「%2」に受け付けられませんでした。").arg(arg, host);
    } else if (cmd.startsWith(u"DATA")) {
      why = QStringLiteral("メールはサーバー「%1」に受け付けられませんでした。").arg(host);
    }
    if (!why.isEmpty()) return why + u'\n' + reply;
  }
  return maillib::describeCurlError(rc, code >= 400 ? reply : QString(), host);
}

// An address that can go into MAIL FROM or RCPT TO as it is: no line
// breaks or other control characters (they would smuggle commands into the
// dialogue), no spaces, no angle brackets.
bool isEnvelopeAddress(const QString& a) {
  if (a.isEmpty()) return false;
  for (QChar c : a)
    if (c.unicode() <= 0x20 || c.unicode() == 0x7F || c == u'<' || c == u'>') return false;
  return true;
}

// Whether a failure came after the whole mail and its final dot went out,
// with no answer to the dot: the server may have taken the mail. libcurl
// sends the dot right after the last byte of the mail; the count of bytes
// out includes the dots it doubled, so it reaches the mail's size no later
// than the end of the mail (a stall in its last few bytes counts as after:
// the side that never leads to sending a mail twice).
bool afterFinalDot(const Transcript& t, qint64 mailSize) {
  return t.command == "DATA" && t.lastReplyLine().startsWith("354") && t.bodyBytesOut >= mailSize;
}

QString uncertainText(CURLcode rc, const QString& host) {
  return QStringLiteral("送信されたか確認できませんでした。サーバー「%1」はメールを最後まで受け取りましたが、"
                        "受け付けたという返事がないまま%2。メールは届いているかもしれません。")
      .arg(host, rc == CURLE_OPERATION_TIMEDOUT ? QStringLiteral("時間切れになりました")
                                                : QStringLiteral("接続が切れました"));
}

int fail(const QString& text) {
  maillib::setLastError(text);
  return -1;
}

}  // namespace

int MailLibSmtpSendMail(const QString& server, const QString& to, const QString* cc, const QString* bcc,
                        const QString& from, const QString& subject, const QString& body, const QString* header,
                        const QString& attachments, int) {
  maillib::ensureInitialized();
  QString error;
  const std::optional<maillib::ServerAddress> address = maillib::parseServer(server, maillib::Protocol::Smtp, &error);
  if (!address) return fail(QStringLiteral("送信サーバー（SMTP）: ") + error);

  QStringList recipients;
  for (const QString* list : {&to, cc, bcc})
    if (list)
      for (const QString& item : maillib::splitAddressList(*list)) recipients << maillib::bareAddress(item);
  recipients.removeAll(QString());
  if (recipients.isEmpty()) return fail(QStringLiteral("宛先のメールアドレスがありません。"));
  for (const QString& r : recipients)
    if (!isEnvelopeAddress(r)) return fail(QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(r));
  const QStringList senders = maillib::splitAddressList(from);
  const QString sender = senders.isEmpty() ? QString() : maillib::bareAddress(senders.first());
  if (sender.isEmpty())
    return fail(QStringLiteral("差出人のメールアドレスが設定されていません（初期設定のメールアドレス）。"));
  if (!isEnvelopeAddress(sender))
    return fail(QStringLiteral("差出人のメールアドレス「%1」が正しくありません。").arg(sender));

  maillib::OutgoingMail mail;
  mail.from = from;
  mail.to = to;
  mail.subject = subject;
  mail.body = body;
  mail.attachments = maillib::splitAttachmentList(attachments);
  if (header) {
    auto extra = maillib::parseExtraHeaders(*header, &error);
    if (!extra) return fail(error);
    mail.extraHeaders = std::move(*extra);
  }
  const std::optional<QByteArray> message = maillib::buildMessage(mail, &error);
  if (!message) return fail(error);

  // Whatever the handle points at is declared before it, so it outlives
  // the handle's cleanup (whose QUIT still reports to the transcript).
  maillib::CurlList rcpt;
  for (const QString& r : recipients) {
    curl_slist* longer = curl_slist_append(rcpt.get(), ('<' + r.toUtf8() + '>').constData());
    if (!longer) return fail(QStringLiteral("送信の準備ができません（メモリ不足）。"));
    (void)rcpt.release();  // now the head of `longer`
    rcpt.reset(longer);
  }
  Upload upload{&*message};
  Transcript transcript;

  const maillib::CurlEasy handle(curl_easy_init());
  CURL* curl = handle.get();
  if (!curl) return fail(QStringLiteral("送信の準備ができません（メモリ不足）。"));
  const QByteArray url = (address->baseUrl() + u'/').toUtf8() + ehloName();
  curl_easy_setopt(curl, CURLOPT_URL, url.constData());
  maillib::applyConnectionOptions(curl, *address);
  // A server that stops answering costs at most this long, at any step:
  // each answer (the greeting, EHLO, AUTH … the one to the final dot) and
  // the mail going out.
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, maillib::g_smtpLimits.replySeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, maillib::g_smtpLimits.stallSeconds);

  const QByteArray mailFrom = '<' + sender.toUtf8() + '>';
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.constData());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt.get());

  // libcurl logs in only when the server offers AUTH; a server without it
  // takes the mail all the same.
  const auto [user, password] = credentials();
  const QByteArray userBytes = user.toUtf8();
  const QByteArray passwordBytes = password.toUtf8();
  if (!user.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, passwordBytes.constData());
  }

  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, onRead);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(message->size()));

  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, onDebug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transcript);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

  const CURLcode rc = curl_easy_perform(curl);
  // Worded now: the cleanup's QUIT would end the transcript.
  if (rc != CURLE_OK && afterFinalDot(transcript, message->size())) {
    maillib::setLastError(uncertainText(rc, address->host));
    return kSmtpSendUncertain;
  }
  if (rc != CURLE_OK) return fail(failureText(rc, transcript, address->host));
  maillib::setLastError(QString());
  return 0;
}
