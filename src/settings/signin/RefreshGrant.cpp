#include "RefreshGrant.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace signin {
namespace {
QString formValue(const QString& s) { return QString::fromLatin1(QUrl::toPercentEncoding(s)); }
}  // namespace

TokenReply refreshGrant(const Provider& provider, const QString& refreshToken, QString* networkError,
                        int timeoutMs) {
  TokenReply refused;
  refused.kind = TokenReply::Kind::Malformed;
  if (!endpointAllowed(provider.tokenUrl)) {
    refused.error = QStringLiteral("token endpoint not allowed: ") + provider.tokenUrl;
    return refused;
  }
  QString body = QStringLiteral("grant_type=refresh_token&refresh_token=") + formValue(refreshToken) +
                 QStringLiteral("&client_id=") + formValue(provider.clientId);
  if (!provider.clientSecret.isEmpty()) body += QStringLiteral("&client_secret=") + formValue(provider.clientSecret);

  QNetworkAccessManager network;
  QNetworkRequest request{QUrl(provider.tokenUrl)};
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
  request.setRawHeader("Accept", "application/json");
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setTransferTimeout(timeoutMs);
  QNetworkReply* reply = network.post(request, body.toLatin1());
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  // User input is held back: nothing else of the program runs meanwhile.
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QByteArray answer = reply->read(kMaxTokenReplyBytes + 1);
  if (status == 0 && networkError) *networkError = reply->errorString();
  delete reply;
  return parseTokenReply(answer, status);
}

}  // namespace signin
