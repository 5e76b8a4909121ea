// Mail over SMTP with libcurl: one connection per link, kept from one mail
// to the next (RSET between them), AUTH when the server offers it, STARTTLS
// required (MailLibCommon).
#include "Sasl.h"
#include "SmtpLink.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <algorithm>
#include <cstring>
#include <curl/curl.h>

namespace maillib {
namespace {

// What the server said, command by command, so that a failure can name the
// step and quote the reply. Credentials sent during AUTH are never kept.
struct Transcript {
  QByteArray command;  // the last command sent ("AUTH" only for a login)
  QByteArray reply;    // the server's reply to it, all lines
  bool closing = false;
  qint64 bodyBytesOut = 0;  // of the mail, written to the connection
  bool authSent = false;    // an AUTH command went out
  QString authStatus;       // the status of a bearer login's error step

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
    if (text.toUpper().startsWith("AUTH")) t->authSent = true;
    t->command = text.toUpper().startsWith("AUTH") ? QByteArrayLiteral("AUTH") : text.trimmed();
    t->reply.clear();
  } else if (type == CURLINFO_HEADER_IN && !t->closing) {
    t->reply += text;
    // A challenge after a bearer token: the error step, its JSON saying why.
    if (t->command == "AUTH" && text.startsWith("334 ")) {
      const QString status = sasl::errorStatus(text.mid(4));
      if (!status.isEmpty()) t->authStatus = status;
    }
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

Result failureOf(CURLcode rc, const Transcript& t, const QString& host, int port) {
  const QString reply = QString::fromUtf8(t.reply).trimmed();
  const int code = t.replyCode();
  if (rc != CURLE_LOGIN_DENIED && code >= 400) {
    const QString cmd = QString::fromUtf8(t.command);
    Result r;
    r.host = host;
    r.detail = cmd.section(u'<', 1).section(u'>', 0, 0);
    r.reply = reply;
    if (cmd.startsWith(u"RCPT")) {
      r.code = Code::RecipientRefused;
    } else if (cmd.startsWith(u"MAIL") && code == 530) {
      r.code = Code::LoginRequired;
    } else if (cmd.startsWith(u"MAIL")) {
      r.code = Code::SenderRefused;
    } else if (cmd.startsWith(u"DATA")) {
      r.code = Code::MailRefused;
    }
    if (!r.ok()) return r;
  }
  return curlFailure(rc, host, code >= 400 ? reply : QString(), port);
}

// Whether a failure came after the whole mail and its final dot went out,
// with no answer to the dot: the server may have taken the mail. libcurl
// sends the dot right after the last byte of the mail; the count of bytes
// out includes the dots it doubled, so it reaches the mail's size no later
// than the end of the mail (a stall in its last few bytes counts as after:
// the side that never leads to sending a mail twice).
// A failure of a login with a bearer token, or nothing when it is not one.
std::optional<Result> bearerFailure(CURLcode rc, const Transcript& t, const QString& host, const QByteArray& token) {
  if (rc == CURLE_USE_SSL_FAILED) return failed(Code::TokenNeedsTls, host);
  if (rc != CURLE_LOGIN_DENIED) return std::nullopt;
  // libcurl refuses on its own, before any AUTH, when the server offers
  // neither token mechanism.
  if (!t.authSent) return failed(Code::BearerNotOffered, host);
  // 454: the server could not check it now; 504: the mechanism unknown
  // after all; else (535, 534 ...) the token was not taken.
  const int code = t.replyCode();
  const Code why = code >= 400 && code < 500 ? Code::LoginUnavailable
                   : code == 504              ? Code::BearerNotOffered
                                              : Code::TokenRefused;
  Result r = failed(why, host, sasl::cutShort(sasl::withoutSecrets(t.authStatus, {token}), 100));
  r.reply = sasl::cutShort(sasl::withoutSecrets(QString::fromUtf8(t.reply).trimmed(), {token}), 500);
  return r;
}

bool afterFinalDot(const Transcript& t, qint64 mailSize) {
  return t.command == "DATA" && t.lastReplyLine().startsWith("354") && t.bodyBytesOut >= mailSize;
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

class CurlSmtpLink : public SmtpLink {
 public:
  explicit CurlSmtpLink(const ServerAddress& server) : server_(server) {}
  Result transfer(const Envelope& envelope, const QByteArray& message, const Credentials& login) override;

 private:
  Result reset(const QString& host);

  ServerAddress server_;
  // Whatever the handle points at is declared before it, so it outlives
  // the handle's cleanup (whose QUIT still reports to the transcript).
  Transcript transcript_;
  maillib::CurlList rcpt_;
  Upload upload_{nullptr};
  maillib::CurlEasy handle_;
  bool used_ = false;  // a mail went out over this handle's connection
};

// Between two mails on one connection: RSET, so that nothing of the one
// before can cling to the next. libcurl opens a new connection (and logs in
// again) when the server has closed the old one meanwhile. Nothing of the
// next mail has gone out when this fails.
Result CurlSmtpLink::reset(const QString& host) {
  CURL* curl = handle_.get();
  if (!curl) return failed(Code::NoMemory, host);
  static const QByteArray nothing;
  upload_ = Upload{&nothing};  // the mail before is gone; nothing is read without an upload anyway
  transcript_ = Transcript{};
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "RSET");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
  if (rc != CURLE_OK) return failureOf(rc, transcript_, host, server_.port);
  return Result{};
}

}  // namespace

Result CurlSmtpLink::transfer(const Envelope& envelope, const QByteArray& message, const Credentials& login) {
  ensureInitialized();
  const QString& host = server_.host;
  maillib::CurlList rcpt;
  for (const QString& r : envelope.recipients) {
    curl_slist* longer = curl_slist_append(rcpt.get(), ('<' + r.toUtf8() + '>').constData());
    if (!longer) return failed(Code::NoMemory, host);
    (void)rcpt.release();  // now the head of `longer`
    rcpt.reset(longer);
  }

  // The options of the mail before are still set: the reset needs them.
  if (used_ && !reset(host).ok()) {
    // The connection died between two mails (a server that hangs up when
    // idle, or after each mail) or the server would not reset: the mail goes
    // over a new one. Nothing of it has gone out.
    handle_.reset();
    used_ = false;
  }
  if (!handle_) handle_.reset(curl_easy_init());
  CURL* curl = handle_.get();
  if (!curl) return failed(Code::NoMemory, host);
  // The list the handle held (if any) goes only once the handle lets go of it.
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
  rcpt_ = std::move(rcpt);
  upload_ = Upload{&message};
  transcript_ = Transcript{};
  Transcript& transcript = transcript_;
  const QByteArray url = (server_.baseUrl() + u'/').toUtf8() + ehloName();
  curl_easy_setopt(curl, CURLOPT_URL, url.constData());
  const bool bearer = login.mechanism == Mechanism::Bearer && !login.user.isEmpty();
  ServerAddress server = server_;
  // A token never goes in clear, whatever the user allowed for a password.
  if (bearer) server.plainAllowed = false;
  applyConnectionOptions(curl, server);
  // A server that stops answering costs at most this long, at any step:
  // each answer (the greeting, EHLO, AUTH … the one to the final dot) and
  // the mail going out.
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, smtpLimits().replySeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, smtpLimits().stallSeconds);

  const QByteArray mailFrom = '<' + envelope.sender.toUtf8() + '>';
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.constData());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt_.get());

  // libcurl logs in only when the server offers AUTH; a server without it
  // takes the mail all the same.
  const QByteArray userBytes = login.user.toUtf8();
  const QByteArray passwordBytes = login.password.toUtf8();
  const QByteArray tokenBytes = login.bearerToken.toUtf8();
  if (bearer) {
    // libcurl takes OAUTHBEARER when the server offers it, else XOAUTH2;
    // only these two, so that a server offering neither is not given the
    // user's name with an empty password instead.
    curl_easy_setopt(curl, CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, tokenBytes.constData());
    curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
  } else if (!login.user.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, passwordBytes.constData());
  }

  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, onRead);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload_);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.size()));

  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, onDebug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transcript);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

  const CURLcode rc = curl_easy_perform(curl);
  used_ = true;
  // Read now: the cleanup's QUIT would end the transcript.
  if (rc != CURLE_OK && afterFinalDot(transcript, message.size()))
    return failed(rc == CURLE_OPERATION_TIMEDOUT ? Code::UncertainTimedOut : Code::UncertainBroken, host);
  if (rc != CURLE_OK && bearer)
    if (std::optional<Result> r = bearerFailure(rc, transcript, host, tokenBytes)) return *r;
  if (rc != CURLE_OK) return failureOf(rc, transcript, host, server_.port);
  return Result{};
}

std::unique_ptr<SmtpLink> openCurlSmtpLink(const ServerAddress& server) {
  return std::make_unique<CurlSmtpLink>(server);
}

std::unique_ptr<SmtpLink> openSmtpLink(const ServerAddress& server) {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::smtpLinkFactory) return testhooks::smtpLinkFactory(server);
#endif
  return openCurlSmtpLink(server);
}

}  // namespace maillib
