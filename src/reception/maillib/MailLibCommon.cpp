#include "MailLibCommon.h"

#include "MailLib.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QUrl>
#include <curl/curl.h>
#include <gmime/gmime.h>
#include <csignal>
#include <mutex>

namespace maillib {

QString ServerAddress::baseUrl() const {
  const QString scheme = protocol == Protocol::Pop3 ? (implicitTls ? u"pop3s"_qs : u"pop3"_qs)
                                                    : (implicitTls ? u"smtps"_qs : u"smtp"_qs);
  const QString h = host.contains(u':') ? u'[' + host + u']' : host;
  return scheme + QStringLiteral("://") + h + u':' + QString::number(port);
}

std::optional<ServerAddress> parseServer(const QString& value, Protocol protocol, Result* failure) {
  const QString v = value.trimmed();
  auto fail = [&](Code why) -> std::optional<ServerAddress> {
    if (failure) *failure = failed(why, QString(), v);
    return std::nullopt;
  };
  if (v.isEmpty()) return fail(Code::ServerMissing);
  ServerAddress s;
  s.protocol = protocol;
  s.value = value;
  const int plainPort = protocol == Protocol::Pop3 ? 110 : 25;
  const int tlsPort = protocol == Protocol::Pop3 ? 995 : 465;
  if (v.contains(u"://")) {
    const QUrl url(v, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const QString want = protocol == Protocol::Pop3 ? u"pop3"_qs : u"smtp"_qs;
    if (!url.isValid() || url.host().isEmpty() || (scheme != want && scheme != want + u's'))
      return fail(Code::ServerWrongScheme);
    s.implicitTls = scheme.endsWith(u's');
    s.host = url.host();
    s.port = url.port(s.implicitTls ? tlsPort : plainPort);
  } else {
    // "host", "host:port", "[v6]:port" or a bare IPv6 address.
    QString host = v;
    int port = plainPort;
    if (v.startsWith(u'[')) {
      const qsizetype close = v.indexOf(u']');
      if (close < 0) return fail(Code::ServerNotUnderstood);
      host = v.mid(1, close - 1);
      if (v.mid(close + 1).startsWith(u':')) {
        bool ok = false;
        port = v.mid(close + 2).toInt(&ok);
        if (!ok) return fail(Code::ServerBadPort);
      }
    } else if (v.count(u':') == 1) {
      bool ok = false;
      port = v.section(u':', 1).toInt(&ok);
      host = v.section(u':', 0, 0);
      if (!ok) return fail(Code::ServerBadPort);
    }
    s.host = host;
    s.port = port;
    s.implicitTls = port == tlsPort;
  }
  if (s.port <= 0 || s.port > 65535) return fail(Code::ServerBadPort);
  if (s.host.contains(u' ') || s.host.contains(u'/')) return fail(Code::ServerNotUnderstood);
  return s;
}

QString extraCaFilePath() { return paths::resolve(kExtraCaFile); }

void applyConnectionOptions(CURL* curl, const ServerAddress& server) {
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeout);
  // A transfer slower than 1 byte/s for this long counts as stalled.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeout);
  curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
  if (server.pinnedKey.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  } else {
    // The user trusted this key for this server: only a server holding it
    // gets through (a changed key fails the handshake, before any login).
    // The chain is not asked for, as no authority vouches for it; the name
    // still is, unless the trusted certificate did not carry it.
    const QByteArray pin = server.pinnedKey.toLatin1();
    curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, pin.constData());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, server.pinnedAnyName ? 0L : 2L);
  }
  // Never on in clear text behind the user's back: a server (or a man in the
  // middle) that offers no STARTTLS ends the connection before any login.
  if (!server.implicitTls)
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(server.plainAllowed ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  const QString ca = extraCaFilePath();
  if (QFileInfo(ca).isFile()) {
    // The extra authority is trusted besides, not instead of, the system's.
    curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(ca).constData());
    curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
}

Result curlFailure(int code, const QString& host, const QString& serverReply, int port) {
  Result r;
  r.host = host;
  r.reply = serverReply.trimmed();
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      r.code = Code::HostNotFound;
      break;
    case CURLE_COULDNT_CONNECT:
      r.code = Code::ConnectFailed;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      r.code = Code::TimedOut;
      break;
    case CURLE_PEER_FAILED_VERIFICATION:  // CURLE_SSL_CACERT too: no authority vouches, expired, another name
      r.code = Code::CertificateUnverified;
      r.port = port;
      break;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      r.code = Code::PinnedKeyChanged;
      r.port = port;
      break;
    case CURLE_SSL_CACERT_BADFILE:
      r.code = Code::CertificateRejected;
      break;
    case CURLE_SSL_CONNECT_ERROR:
      r.code = Code::TlsFailed;
      break;
    case CURLE_USE_SSL_FAILED:
      r.code = Code::PlainRefused;
      break;
    case CURLE_LOGIN_DENIED:
      r.code = Code::LoginDenied;
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      r.code = Code::ConnectionBroken;
      break;
    default:
      r.code = Code::TransportFailed;
      r.cause = QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
  }
  return r;
}

void ensureInitialized() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    g_mime_init();
    // A server that closes the connection while a command is being written
    // must give a write error, not end the process.
    ::signal(SIGPIPE, SIG_IGN);
  });
}

}  // namespace maillib

int MailLibInitialize() {
  maillib::ensureInitialized();
  return 0;
}

int MailLibSetOption(int option, int value) {
  // Option 1, the length of the header buffers, was for the POP3 calls the
  // program no longer makes: it is taken and has no effect.
  return option == 1 && value > 0 ? 0 : -1;
}

int MailLibEnd() {
  // libcurl and GMime stay set up until the process ends: an end followed by
  // a new start (tests, headless runs) must keep working.
  return 0;
}
