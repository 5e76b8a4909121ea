#include "BrowserSignIn.h"

#include "Pkce.h"
#include "TokenReply.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QPointer>
#include <QTimer>

namespace signin {
namespace {

// The page the browser shows once the answer has reached the program.
const QString kDoneText = QStringLiteral("灯火亭へのサインインの応答を受け取りました。このページは閉じてかまいません。");

// The loopback listener, whose token answer is read here instead of by
// Qt's own reader: every byte of it goes through parseTokenReply.
class Listener : public QOAuthHttpServerReplyHandler {
 public:
  using QOAuthHttpServerReplyHandler::QOAuthHttpServerReplyHandler;
  std::function<void(const TokenReply&, const QString& networkError)> onTokenAnswer;

  void networkReplyFinished(QNetworkReply* reply) override {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->read(kMaxTokenReplyBytes + 1);
    const QString networkError =
        status == 0 && reply->error() != QNetworkReply::NoError ? reply->errorString() : QString();
    if (onTokenAnswer) onTokenAnswer(parseTokenReply(body, status), networkError);
  }
};

}  // namespace

struct BrowserSignIn::Flow {
  QNetworkAccessManager network;
  QOAuth2AuthorizationCodeFlow oauth;
  Listener* listener = nullptr;  // owned by `oauth`
  QTimer timer;
  QByteArray verifier;
};

BrowserSignIn::BrowserSignIn(const Provider& provider, Opener opener, QObject* parent)
    : QObject(parent), provider_(provider), opener_(std::move(opener)) {}

BrowserSignIn::~BrowserSignIn() = default;

void BrowserSignIn::finish(SignInResult result) {
  if (!running_) return;
  running_ = false;
  if (flow_) {
    flow_->timer.stop();
    if (flow_->listener) {
      flow_->listener->onTokenAnswer = nullptr;
      flow_->listener->close();
    }
    // Not deleted here: this may be inside one of its own signals.
    QObject* oauth = &flow_->oauth;
    QObject::disconnect(oauth, nullptr, this, nullptr);
    if (flow_->listener) QObject::disconnect(flow_->listener, nullptr, this, nullptr);
    QTimer::singleShot(0, this, [this, keep = std::shared_ptr<Flow>(flow_.release())] { Q_UNUSED(keep); });
  }
  emit finished(result);
}

void BrowserSignIn::start(int timeoutMs) {
  if (running_) return;
  running_ = true;
  auto failLater = [this](SignInResult::Status status, const QString& detail) {
    QTimer::singleShot(0, this, [this, status, detail] { finish({status, {}, {}, -1, detail}); });
  };
  QStringList missing;
  if (provider_.authorizeUrl.isEmpty()) missing << QStringLiteral("authorize_url");
  if (provider_.tokenUrl.isEmpty()) missing << QStringLiteral("token_url");
  if (provider_.clientId.isEmpty()) missing << QStringLiteral("client_id");
  if (!missing.isEmpty()) return failLater(SignInResult::Status::NotConfigured, missing.join(u", "));
  for (const QString& url : {provider_.authorizeUrl, provider_.tokenUrl})
    if (!endpointAllowed(url)) return failLater(SignInResult::Status::NotConfigured, url);

  flow_ = std::make_unique<Flow>();
  Flow& f = *flow_;
  f.network.setTransferTimeout(60000);
  f.oauth.setNetworkAccessManager(&f.network);
  f.listener = new Listener(QHostAddress(QHostAddress::LocalHost), 0, &f.oauth);
  if (!f.listener->isListening()) return failLater(SignInResult::Status::NoListener, QString());
  f.listener->setCallbackText(kDoneText);
  f.oauth.setReplyHandler(f.listener);
  f.oauth.setAuthorizationUrl(QUrl(provider_.authorizeUrl));
  f.oauth.setAccessTokenUrl(QUrl(provider_.tokenUrl));
  f.oauth.setClientIdentifier(provider_.clientId);
  if (!provider_.clientSecret.isEmpty()) f.oauth.setClientIdentifierSharedKey(provider_.clientSecret);
  f.oauth.setScope(provider_.scope);

  // PKCE: the challenge goes out with the browser, the verifier only to
  // the token endpoint.
  f.verifier = newCodeVerifier();
  const QByteArray challenge = codeChallenge(f.verifier);
  const QList<QPair<QString, QString>> extra = provider_.authorizeParameters;
  f.oauth.setModifyParametersFunction([&f, challenge, extra](QAbstractOAuth::Stage stage,
                                                             QMultiMap<QString, QVariant>* parameters) {
    if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
      parameters->insert(QStringLiteral("code_challenge"), QString::fromLatin1(challenge));
      parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
      for (const auto& [name, value] : extra) parameters->replace(name, value);
    } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
      parameters->insert(QStringLiteral("code_verifier"), QString::fromLatin1(f.verifier));
    }
  });

  connect(&f.oauth, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
    if (!opener_ || !opener_(url)) finish({SignInResult::Status::NoBrowser, {}, {}, -1, QString()});
  });
  // What came back to the listener: an error, or a code for this very
  // request (Qt checks the state too, but says nothing when it differs).
  connect(f.listener, &QAbstractOAuthReplyHandler::callbackReceived, this, [this](const QVariantMap& values) {
    if (!flow_) return;
    const QString error = values.value(QStringLiteral("error")).toString();
    if (!error.isEmpty()) {
      const QString why = values.value(QStringLiteral("error_description")).toString();
      return finish({SignInResult::Status::Denied, {}, {}, -1, why.isEmpty() ? error : error + u": "_qs + why});
    }
    if (values.value(QStringLiteral("state")).toString() != flow_->oauth.state())
      return finish({SignInResult::Status::Denied, {}, {}, -1, QStringLiteral("state mismatch")});
    if (values.value(QStringLiteral("code")).toString().isEmpty())
      return finish({SignInResult::Status::Malformed, {}, {}, -1, QStringLiteral("no code")});
  });
  f.listener->onTokenAnswer = [this](const TokenReply& reply, const QString& networkError) {
    SignInResult r;
    if (!networkError.isEmpty()) {
      r.status = SignInResult::Status::Unreachable;
      r.detail = networkError;
    } else if (reply.kind == TokenReply::Kind::Tokens) {
      r.status = SignInResult::Status::Ok;
      r.accessToken = reply.accessToken;
      r.refreshToken = reply.refreshToken;
      r.expiresIn = reply.expiresIn;
      if (r.refreshToken.isEmpty()) {
        // Without one the sign-in would not outlast the hour.
        r = {SignInResult::Status::Malformed, {}, {}, -1, QStringLiteral("no refresh_token")};
      }
    } else {
      r.status = reply.kind == TokenReply::Kind::Malformed       ? SignInResult::Status::Malformed
                 : reply.kind == TokenReply::Kind::ServerTrouble ? SignInResult::Status::Unreachable
                                                                 : SignInResult::Status::Refused;
      r.detail = reply.errorDescription.isEmpty() ? reply.error : reply.error + u": "_qs + reply.errorDescription;
    }
    finish(r);
  };
  f.timer.setSingleShot(true);
  connect(&f.timer, &QTimer::timeout, this, [this] { finish({SignInResult::Status::TimedOut, {}, {}, -1, QString()}); });
  f.timer.start(timeoutMs);
  f.oauth.grant();
}

void BrowserSignIn::cancel() { finish({SignInResult::Status::Cancelled, {}, {}, -1, QString()}); }

SignInResult signInWithBrowser(const Provider& provider, const BrowserSignIn::Opener& opener, int timeoutMs) {
  BrowserSignIn signIn(provider, opener);
  SignInResult result;
  QEventLoop loop;
  QObject::connect(&signIn, &BrowserSignIn::finished, &loop, [&](const SignInResult& r) {
    result = r;
    loop.quit();
  });
  signIn.start(timeoutMs);
  if (signIn.running()) loop.exec();
  return result;
}

}  // namespace signin
