#include "MailWording.h"

#include "reception/maillib/MailLib.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/PinnedKeys.h"

#include <QDir>

#include <algorithm>

namespace wording {
namespace {

using maillib::Code;
using maillib::Result;

enum class Side { Pop3, Smtp };

QString serverValue(const Result& r, Side side) {
  const QString& v = r.detail;
  switch (r.code) {
    case Code::ServerMissing:
      return QStringLiteral("サーバー名が設定されていません。");
    case Code::ServerWrongScheme:
      return QStringLiteral("サーバー名「%1」を理解できません（%2:// か %2s:// で始めて下さい）。")
          .arg(v, side == Side::Pop3 ? u"pop3"_qs : u"smtp"_qs);
    case Code::ServerBadPort:
      return QStringLiteral("サーバー名「%1」のポート番号が正しくありません。").arg(v);
    default:
      return QStringLiteral("サーバー名「%1」を理解できません。").arg(v);
  }
}

QString plainRefused(const QString& host) {
  return QStringLiteral("サーバー「%1」は暗号化通信（STARTTLS）を提供していないため、接続を中止しました。"
                        "IDやパスワード、メールは送っていません。"
                        "通信の途中で暗号化が妨げられている可能性もあります。\n"
                        "このサーバーに暗号化なしで接続してよい場合は、「初期設定」→「POPサーバー」の"
                        "「%2」にチェックを付けて下さい。")
      .arg(host, kPlainLoginCaption);
}

// Said with every refusal for a certificate: nothing but the handshake
// crossed that connection.
const QString kNothingSent = QStringLiteral("IDやパスワード、メールは送っていません。");

// "host:port": a certificate is trusted per port.
QString serverOf(const Result& r) { return r.port > 0 ? ServerCertificate::serverName(r.host, r.port) : r.host; }

QString keyChanged(const Result& r) {
  const QString server = serverOf(r);
  return QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。"
                        "サーバーがなりすまされているおそれがあるため、接続を中止しました。")
             .arg(server) +
         kNothingSent +
         QStringLiteral("\nサーバーの管理者に確かめて、鍵を変えたことが確かな場合に限り、"
                        "「%1」から「%2」で始まる行を削除して下さい。次の接続で新しい証明書を確かめられます。")
             .arg(QDir::toNativeSeparators(pins::filePath()), server);
}

// The sentence alone; the server's reply, when there is one, goes below it.
QString sentence(const Result& r, Side side) {
  const QString& h = r.host;
  const QString& d = r.detail;
  switch (r.code) {
    case Code::Ok:
      return QString();
    case Code::ServerMissing:
    case Code::ServerNotUnderstood:
    case Code::ServerWrongScheme:
    case Code::ServerBadPort:
      return side == Side::Smtp ? QStringLiteral("送信サーバー（SMTP）: ") + serverValue(r, side) : serverValue(r, side);

    case Code::HostNotFound:
      return QStringLiteral("サーバー「%1」が見つかりません（名前を解決できません）。").arg(h);
    case Code::ConnectFailed:
      return QStringLiteral("サーバー「%1」に接続できません（接続を拒否されたか、届きません）。").arg(h);
    case Code::TimedOut:
      return QStringLiteral("サーバー「%1」が応答しません（時間切れ）。").arg(h);
    case Code::CertificateRejected:
      return QStringLiteral("サーバー「%1」の証明書を確認できないため、接続を中止しました。").arg(h);
    case Code::CertificateUnverified:
      return QStringLiteral("サーバー「%1」の証明書を確認できないため、接続を中止しました。").arg(serverOf(r)) +
             kNothingSent;
    case Code::PinnedKeyChanged:
      return keyChanged(r);
    case Code::TlsFailed:
      return QStringLiteral("サーバー「%1」との暗号化通信（TLS）を始められません。").arg(h);
    case Code::PlainRefused:
      return plainRefused(h);
    case Code::LoginDenied:
      return QStringLiteral("サーバー「%1」にログインできません（IDかパスワードが違います）。").arg(h);
    case Code::ConnectionBroken:
      return QStringLiteral("サーバー「%1」との接続が途中で切れました。").arg(h);
    case Code::TransportFailed:
      return QStringLiteral("サーバー「%1」との通信に失敗しました（%2）。").arg(h, r.cause);
    case Code::NoMemory:
      return side == Side::Smtp ? QStringLiteral("送信の準備ができません（メモリ不足）。")
                                : QStringLiteral("通信の準備ができません（メモリ不足）。");
    case Code::Stopped:
      return QStringLiteral("受信を途中で止めました。");

    case Code::TokenRefused:
      return QStringLiteral("サーバー「%1」がサインインを受け付けませんでした%2。サインインの有効期限が切れたか、取り消されました。"
                            "ウィンドウから「サインイン」をやり直して下さい。")
          .arg(h, d.isEmpty() ? QString() : u'（' + d + u'）');
    case Code::TokenNeedsTls:
      return QStringLiteral("サーバー「%1」との通信を暗号化できないため、サインインを中止しました（サインインの情報は送っていません）。"
                            "サインインの情報は、暗号化した通信でしか送りません。"
                            "通信の途中で暗号化が妨げられている可能性もあります。")
          .arg(h);
    case Code::BearerNotOffered:
      return QStringLiteral("サーバー「%1」はサインイン（OAuth 2.0）によるログインに対応していません。"
                            "「サーバー設定」を確かめて下さい。")
          .arg(h);
    case Code::LoginUnavailable:
      return QStringLiteral("サーバー「%1」は、いまログインを確かめられません（サーバー側の一時的な問題）。"
                            "しばらくしてからやり直して下さい。")
          .arg(h);

    case Code::Pop3NotUnderstood:
      return QStringLiteral("サーバー「%1」の応答を理解できません。\n%2").arg(h, d);
    case Code::Pop3LineTooLong:
      return QStringLiteral("サーバー「%1」の応答の行が長すぎます（改行のないまま %2 バイト）。").arg(h, QString::number(r.amount));
    case Code::Pop3TooSlow:
      return QStringLiteral("サーバー「%1」からの受信が遅すぎるため、中止しました（%2 秒で %3 バイト）。")
          .arg(h, QString::number(r.seconds), QString::number(r.amount));
    case Code::Pop3BadLoginCharacter:
      return QStringLiteral("IDかパスワードに使えない文字（改行など）が含まれています。");
    case Code::Pop3NoApop:
      return QStringLiteral("サーバー「%1」はAPOPに対応していません。APOPを使わない設定にして下さい。").arg(h);
    case Code::Pop3ListRefused:
      return QStringLiteral("サーバー「%1」からメールの一覧を受け取れません。").arg(h);
    case Code::Pop3ListTooLarge:
      return QStringLiteral("サーバー「%1」のメールの一覧が大きすぎます。").arg(h);
    case Code::Pop3QuitRefused:
      return QStringLiteral("サーバー「%1」が終了の手続きを拒否しました。削除は行われていません。").arg(h);
    case Code::Pop3DeletesRefused:
      return QStringLiteral("サーバー「%1」が %2 通のメールの削除を拒否しました。").arg(h, QString::number(r.amount));

    case Code::NoRecipient:
      return QStringLiteral("宛先のメールアドレスがありません。");
    case Code::BadRecipient:
      return QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(d);
    case Code::NoSender:
      return QStringLiteral("差出人のメールアドレスが設定されていません（初期設定のメールアドレス）。");
    case Code::BadSender:
      return QStringLiteral("差出人のメールアドレス「%1」が正しくありません。").arg(d);
    case Code::SenderLineBreak:
      return QStringLiteral("差出人のメールアドレスに改行が含まれています（初期設定のメールアドレス）。");
    case Code::RecipientLineBreak:
      return QStringLiteral("宛先に改行が含まれています。宛先は1行で入力して下さい。");
    case Code::SubjectLineBreak:
      return QStringLiteral("件名に改行が含まれています。件名は1行で入力して下さい。");
    case Code::AttachmentNameLineBreak:
      return QStringLiteral("添付ファイル「%1」の名前に改行が含まれています。名前を変えてから添付して下さい。").arg(d);
    case Code::AttachmentNameEmpty:
      return QStringLiteral("添付ファイルの名前が空です。");
    case Code::AttachmentMissing:
      return QStringLiteral("添付ファイル「%1」が見つかりません。").arg(d);
    case Code::AttachmentIsFolder:
      return QStringLiteral("添付ファイル「%1」はフォルダです。ファイルを選んで下さい。").arg(d);
    case Code::AttachmentNotPermitted:
      return QStringLiteral("添付ファイル「%1」を読み込めません（読み取りが許可されていません）。").arg(d);
    case Code::AttachmentUnreadable:
      return QStringLiteral("添付ファイル「%1」を読み込めません（%2）。").arg(d, r.cause);
    case Code::HeaderLineTooLong:
      return QStringLiteral("追加のヘッダーの行が長すぎます。");
    case Code::HeaderBadCharacter:
      return QStringLiteral("追加のヘッダー「%1」に使えない文字があります。").arg(d);
    case Code::HeaderContinuationFirst:
      return QStringLiteral("追加のヘッダーが続きの行から始まっています。");
    case Code::HeaderMalformed:
      return QStringLiteral("追加のヘッダー「%1」の形が正しくありません。").arg(d);
    case Code::HeaderNotAllowed:
      return QStringLiteral("追加のヘッダー「%1」はここでは使えません。").arg(d);
    case Code::HeaderEmpty:
      return QStringLiteral("追加のヘッダー「%1」に値がありません。").arg(d);

    case Code::RecipientRefused:
      return QStringLiteral("宛先 <%1> はサーバー「%2」に受け付けられませんでした。").arg(d, h);
    case Code::SenderRefused:
      return QStringLiteral("差出人 <%1> はサーバー「%2」に受け付けられませんでした。").arg(d, h);
    case Code::LoginRequired:
      return QStringLiteral("サーバー「%1」は、ログイン（SMTP認証）しないと送信を受け付けません。"
                            "IDとパスワードを確かめて下さい。")
          .arg(h);
    case Code::MailRefused:
      return QStringLiteral("メールはサーバー「%1」に受け付けられませんでした。").arg(h);

    case Code::UncertainTimedOut:
    case Code::UncertainBroken:
      return QStringLiteral("送信されたか確認できませんでした。サーバー「%1」はメールを最後まで受け取りましたが、"
                            "受け付けたという返事がないまま%2。メールは届いているかもしれません。")
          .arg(h, r.code == Code::UncertainTimedOut ? QStringLiteral("時間切れになりました")
                                                    : QStringLiteral("接続が切れました"));
  }
  return QString();
}

QString text(const Result& r, Side side) {
  const QString s = sentence(r, side);
  return r.reply.isEmpty() ? s : s + u'\n' + r.reply;
}

}  // namespace

QString pop3Failure(const maillib::Result& r) { return text(r, Side::Pop3); }

QString certificateSummary(const ServerCertificate& c) {
  QString s = QStringLiteral("証明書のSHA-256フィンガープリント: %1").arg(c.fingerprint());
  if (!c.nameMatches) s += QStringLiteral("\nこの証明書はサーバー名「%1」のものではありません。").arg(c.host);
  return s;
}
QString sendFailure(const maillib::Result& r) { return text(r, Side::Smtp); }

QString signInNeeded(const QString& user) {
  const QString who = user.isEmpty() ? QString() : QStringLiteral("（%1）").arg(user);
  return QStringLiteral("サインイン%1が必要です。まだサインインしていないか、サインインの有効期限が切れたか、取り消されました。"
                        "灯火亭の画面の「初期設定」→「POPサーバー」で「ブラウザでサインイン」を押して、"
                        "もう一度サインインして下さい。").arg(who);
}

QString tokenLocked(bool mayAsk) {
  if (!mayAsk)
    return QStringLiteral("デスクトップのキーリングがロックされているため、サインインの情報を読めませんでした。"
                          "キーリングのロックを解除するか、灯火亭の画面から操作して下さい"
                          "（画面からはロックの解除を求められます）。");
  return QStringLiteral("デスクトップのキーリングのロックが解除されなかったため、サインインの情報を読めませんでした。");
}

QString tokenUnavailable(const QString& detail, bool unreachable) {
  const QString why = detail.isEmpty() ? QString() : QStringLiteral("（%1）").arg(detail.left(300));
  if (unreachable)
    return QStringLiteral("サインインの確認先（認証サーバー）に接続できませんでした%1。"
                          "しばらくしてからもう一度お試し下さい。").arg(why);
  return QStringLiteral("サインインの情報を更新できませんでした%1。"
                        "「サーバー設定」のプロバイダーとクライアントIDの設定を確かめて下さい。").arg(why);
}

}  // namespace wording

namespace wording {

QString keyringFailure(secrets::Status status, const QString& detail, bool mayAsk) {
  if (status == secrets::Status::Locked && !mayAsk)
    return QStringLiteral("デスクトップのキーリングがロックされているため、保存したパスワードを読めませんでした。"
                          "灯火亭の画面を開いて、画面から受信・送信して下さい（キーリングのロックの解除を求められます）。"
                          "キーリングのロックを解除してから、もう一度実行することもできます。");
  if (status == secrets::Status::Locked)
    return QStringLiteral("デスクトップのキーリングのロックが解除されなかったため、保存したパスワードを読めませんでした。");
  return QStringLiteral("デスクトップのキーリングから保存したパスワードを読めませんでした（%1）。")
      .arg(detail.isEmpty() ? QStringLiteral("キーリングが応答しません") : detail);
}

}  // namespace wording

int MailLibGetErrorText(int, QString& buffer, int& length) {
  const maillib::Result& last = MailLibSmtpLastResult();
  const QString text = last.ok() ? QStringLiteral("エラーはありません。") : wording::sendFailure(last);
  if (buffer.size() < length) buffer.resize(length, QChar(u' '));
  // The text and a NUL, as much of it as the buffer holds.
  const qsizetype n = std::min(text.size(), buffer.size() - 1);
  if (n >= 0) {
    std::copy_n(text.constData(), n, buffer.data());
    buffer.data()[n] = QChar(0);
  }
  length = int(n);
  return 0;
}
