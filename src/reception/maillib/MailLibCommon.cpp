#include "MailLibCommon.h"

#include "MailLib.h"
#include "platform/Paths.h"
#include "settings/AccountSettings.h"

#include <QFileInfo>
#include <QUrl>
#include <curl/curl.h>
#include <gmime/gmime.h>
#include <csignal>
#include <mutex>

namespace maillib {
namespace {
QString g_lastError;
int g_headerBufferLength = 8192;
bool g_initialized = false;
}  // namespace

QString ServerAddress::baseUrl() const {
  const QString scheme = protocol == Protocol::Pop3 ? (implicitTls ? u"pop3s"_qs : u"pop3"_qs)
                                                    : (implicitTls ? u"smtps"_qs : u"smtp"_qs);
  const QString h = host.contains(u':') ? u'[' + host + u']' : host;
  return scheme + QStringLiteral("://") + h + u':' + QString::number(port);
}

std::optional<ServerAddress> parseServer(const QString& value, Protocol protocol, QString* error) {
  const QString v = value.trimmed();
  auto fail = [&](const QString& why) -> std::optional<ServerAddress> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (v.isEmpty()) return fail(QStringLiteral("サーバー名が設定されていません。"));
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
      return fail(QStringLiteral("サーバー名「%1」を理解できません（%2:// か %2s:// で始めて下さい）。").arg(v, want));
    s.implicitTls = scheme.endsWith(u's');
    s.host = url.host();
    s.port = url.port(s.implicitTls ? tlsPort : plainPort);
  } else {
    // "host", "host:port", "[v6]:port" or a bare IPv6 address.
    QString host = v;
    int port = plainPort;
    if (v.startsWith(u'[')) {
      const qsizetype close = v.indexOf(u']');
      if (close < 0) return fail(QStringLiteral("サーバー名「%1」を理解できません。").arg(v));
      host = v.mid(1, close - 1);
      if (v.mid(close + 1).startsWith(u':')) {
        bool ok = false;
        port = v.mid(close + 2).toInt(&ok);
        if (!ok) return fail(QStringLiteral("サーバー名「%1」のポート番号が正しくありません。").arg(v));
      }
    } else if (v.count(u':') == 1) {
      bool ok = false;
      port = v.section(u':', 1).toInt(&ok);
      host = v.section(u':', 0, 0);
      if (!ok) return fail(QStringLiteral("サーバー名「%1」のポート番号が正しくありません。").arg(v));
    }
    s.host = host;
    s.port = port;
    s.implicitTls = port == tlsPort;
  }
  if (s.port <= 0 || s.port > 65535) return fail(QStringLiteral("サーバー名「%1」のポート番号が正しくありません。").arg(v));
  if (s.host.contains(u' ') || s.host.contains(u'/'))
    return fail(QStringLiteral("サーバー名「%1」を理解できません。").arg(v));
  return s;
}

QString extraCaFilePath() { return paths::resolve(kExtraCaFile); }

bool plainLoginAllowed(const ServerAddress& server) {
  const AccountSettingsRecord& s = AccountSettings();
  return PlainLoginAllowed(server.protocol == Protocol::Pop3 ? s.PlainPop3Server : s.PlainSmtpServer, server.value);
}

void applyConnectionOptions(CURL* curl, const ServerAddress& server) {
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeout);
  // A transfer slower than 1 byte/s for this long counts as stalled.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeout);
  curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // Never on in clear text behind the user's back: a server (or a man in the
  // middle) that offers no STARTTLS ends the connection before any login.
  if (!server.implicitTls)
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(plainLoginAllowed(server) ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  const QString ca = extraCaFilePath();
  if (QFileInfo(ca).isFile()) {
    // The extra authority is trusted besides, not instead of, the system's.
    curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(ca).constData());
    curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
}

void setLastError(const QString& text) { g_lastError = text; }
QString lastError() { return g_lastError; }

QString plainRefusedText(const QString& host) {
  return QStringLiteral("サーバー「%1」は暗号化通信（STARTTLS）を提供していないため、接続を中止しました。"
                        "IDやパスワード、メールは送っていません。"
                        "通信の途中で暗号化が妨げられている可能性もあります。\n"
                        "このサーバーに暗号化なしで接続してよい場合は、「初期設定」→「POPサーバー」の"
                        "「%2」にチェックを付けて下さい。")
      .arg(host, kPlainLoginCaption);
}

QString describeCurlError(int code, const QString& serverReply, const QString& host) {
  const QString reply = serverReply.trimmed();
  QString why;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      why = QStringLiteral("サーバー「%1」が見つかりません（名前を解決できません）。").arg(host);
      break;
    case CURLE_COULDNT_CONNECT:
      why = QStringLiteral("サーバー「%1」に接続できません（接続を拒否されたか、届きません）。").arg(host);
      break;
    case CURLE_OPERATION_TIMEDOUT:
      why = QStringLiteral("サーバー「%1」が応答しません（時間切れ）。").arg(host);
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      why = QStringLiteral("サーバー「%1」の証明書を確認できないため、接続を中止しました。").arg(host);
      break;
    case CURLE_SSL_CONNECT_ERROR:
      why = QStringLiteral("サーバー「%1」との暗号化通信（TLS）を始められません。").arg(host);
      break;
    case CURLE_USE_SSL_FAILED:
      why = plainRefusedText(host);
      break;
    case CURLE_LOGIN_DENIED:
      why = QStringLiteral("サーバー「%1」にログインできません（IDかパスワードが違います）。").arg(host);
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      why = QStringLiteral("サーバー「%1」との接続が途中で切れました。").arg(host);
      break;
    default:
      why = QStringLiteral("サーバー「%1」との通信に失敗しました（%2）。")
                .arg(host, QString::fromUtf8(curl_easy_strerror(CURLcode(code))));
  }
  return reply.isEmpty() ? why : why + u'\n' + reply;
}

void fillBuffer(QString& buffer, const QString& value) {
  if (buffer.isEmpty()) return;
  const qsizetype n = std::min(value.size(), buffer.size() - 1);
  QChar* d = buffer.data();
  std::copy_n(value.constData(), n, d);
  d[n] = QChar(0);
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
  g_initialized = true;
}

int headerBufferLength() { return g_headerBufferLength; }

}  // namespace maillib

int MailLibInitialize() {
  maillib::ensureInitialized();
  return 0;
}

int MailLibSetOption(int option, int value) {
  if (option == 1 && value > 0) {
    maillib::g_headerBufferLength = value;
    return 0;
  }
  return -1;
}

int MailLibEnd() {
  // libcurl and GMime stay set up until the process ends: an end followed by
  // a new start (tests, headless runs) must keep working.
  return 0;
}

int MailLibGetErrorText(int, QString& buffer, int& length) {
  QString text = maillib::lastError();
  if (text.isEmpty()) text = QStringLiteral("エラーはありません。");
  if (buffer.size() < length) buffer.resize(length, QChar(u' '));
  maillib::fillBuffer(buffer, text);
  length = int(std::min<qsizetype>(text.size(), buffer.size() - 1));
  return 0;
}
