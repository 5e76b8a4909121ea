#include "CheckWords.h"

#include "ReceivedWords.h"
#include "reception/words/MailWording.h"
#include "settings/secrets/Secrets.h"

#include <QDir>
#include <QStringList>

namespace reception {

namespace {
constexpr int kListedLeftMails = 10;
}  // namespace

QString checkingText() { return QStringLiteral("メールのチェックをしています。"); }

QString statusText(CheckStatus status) {
  switch (status) {
    case CheckStatus::AttachmentMail:
      return QStringLiteral("添付ファイルメール。");
    case CheckStatus::NoNewMail:
      return QStringLiteral("新着メール無し。");
    case CheckStatus::NewMail:
      return QStringLiteral("新着メール有り。");
  }
  return QString();
}

QString progressText(const CheckProgress& p) {
  return QStringLiteral("受信中 %1/%2件（%3 MB）").arg(p.done).arg(p.total).arg(double(p.bytes) / (1024 * 1024), 0, 'f', 1);
}

QString leftText(const LeftMail& left) {
  switch (left.why) {
    case LeftMail::Why::TooLargeListed:
      return QStringLiteral("大きすぎます（%1 MB、受け取るのは %2 MB まで）").arg(left.sizeMb).arg(left.limitMb);
    case LeftMail::Why::Refused:
      return QStringLiteral("サーバーが渡しません（%1）").arg(left.detail);
    case LeftMail::Why::TooLarge:
      return QStringLiteral("大きすぎます（%1 MB より大きい）").arg(left.limitMb);
    case LeftMail::Why::AttachmentFailed:
      return QStringLiteral("添付ファイルをオープンできません（%1）").arg(left.fault ? faultText(left.fault) : attachmentFaultText(left.attachment));
  }
  return left.detail;
}

QString problemText(const CheckProblem& p) {
  switch (p.code) {
    case CheckCode::NoServer:
      return QStringLiteral("POP3サーバーが設定されていません（pelkit.ini）。");
    case CheckCode::Busy:
    case CheckCode::LockFailed:
    case CheckCode::Store:
      return faultText(p.fault);
    case CheckCode::RecoveryFailed:
      return faultText(p.fault) + QStringLiteral("\nメールはサーバーに残してあります。");
    case CheckCode::MailLibrary:
      if (!p.certificate.isNull())
        // The window asks about the certificate instead: this is read where
        // nobody can be asked.
        return wording::pop3Failure(p.library) + u'\n' + wording::certificateSummary(p.certificate) +
               QStringLiteral("\nこの証明書を信頼するには、灯火亭の画面で「メール受信」を押して下さい。"
                              "証明書の内容が表示され、信頼するかどうかを選べます。");
      return wording::pop3Failure(p.library);
    case CheckCode::NoAccount:
      return QStringLiteral("IDかパスワードが保存されていません。画面の「初期設定」→「ID/PASS」で保存して下さい。");
    case CheckCode::KeyringLocked:
      return wording::keyringFailure(secrets::Status::Locked, QString(), false);
    case CheckCode::KeyringNotUnlocked:
      return wording::keyringFailure(secrets::Status::Locked, QString(), true);
    case CheckCode::KeyringFailed:
      return wording::keyringFailure(secrets::Status::Failed, p.detail, true);
    case CheckCode::SignInNeeded:
      return wording::signInNeeded(p.host);
    case CheckCode::TokenLocked:
      return wording::tokenLocked(false);
    case CheckCode::TokenUnavailable:
      return wording::tokenUnavailable(p.detail, p.count == 1);
    case CheckCode::UidListUnreadable:
      return QStringLiteral("受信済みメールの記録「%1」を読めません（%2）。\nメールはサーバーに残してあります。")
          .arg(QDir::toNativeSeparators(p.path), p.detail);
    case CheckCode::UidListUnwritable:
      return QStringLiteral("受信済みメールの記録「%1」を書き込めません（%2）。").arg(QDir::toNativeSeparators(p.path), p.detail);
    case CheckCode::Unsaved:
      return QStringLiteral("受信したメールを保存できません（%1）。").arg(faultText(p.fault));
    case CheckCode::Unflushed:
      return QStringLiteral("受信したメールをディスクに書き込めません（%1）。").arg(p.fault ? faultText(p.fault) : attachmentFaultText(p.attachment));
    case CheckCode::Stopped:
      // The same words as the mail library's wait given up on.
      return wording::pop3Failure(maillib::failed(maillib::Code::Stopped));
    case CheckCode::QuitUnanswered:
      return QStringLiteral("サーバー「%1」が受信の終わり（QUIT）に応答しませんでした。受信したメールはサーバーにも残っていますが、次の受信で二重に保存されることはありません。\n%2")
          .arg(p.host, wording::pop3Failure(p.library));
    case CheckCode::DeletesRefused:
      return QStringLiteral("サーバー「%1」が %2 通のメールの削除を拒否しました。受信したメールはサーバーにも残っていますが、次の受信で二重に保存されることはありません。\n%3")
          .arg(p.host, QString::number(p.count), p.detail);
    case CheckCode::PartialMail:
      return QStringLiteral("分割されたメールが全て揃っていません");
  }
  return p.detail;
}

QString failureText(const CheckFailure& f) {
  QStringList out;
  if (f.notReceived > 0) {
    out << QStringLiteral("%1 通のメールを受信できませんでした。サーバーに残してあるので、次の受信でもう一度受け取ります。")
               .arg(f.notReceived);
    for (qsizetype i = 0; i < f.left.size() && i < kListedLeftMails; ++i)
      out << QStringLiteral("・%1 番のメール: %2").arg(f.left[i].number).arg(leftText(f.left[i]));
    if (f.left.size() > kListedLeftMails) out << QStringLiteral("・ほか %1 通").arg(f.left.size() - kListedLeftMails);
  }
  for (const CheckProblem& p : f.problems) out << problemText(p);
  return out.join(u'\n');
}

}  // namespace reception
