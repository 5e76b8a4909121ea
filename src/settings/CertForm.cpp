#include "CertForm.h"

#include "platform/TestHooks.h"
#include "platform/ui/MsgBox.h"
#include "settings/files/PinnedKeys.h"

#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString dateText(const QDateTime& t) {
  return t.isValid() ? QLocale().toString(t.toLocalTime(), QLocale::ShortFormat) : QStringLiteral("（不明）");
}

// A value the user may select and copy (the fingerprint, to compare it).
QLabel* value(const char* name, const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  l->setTextFormat(Qt::PlainText);
  return l;
}

}  // namespace

bool CertForm::ask(const ServerCertificate& certificate, QWidget* parent) {
  CertForm form(certificate, parent);
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::certForm) testhooks::certForm(&form);
#endif
  if (form.exec() != QDialog::Accepted) return false;
  QString why;
  if (pins::trust(certificate, &why)) return true;
  MsgBox(QStringLiteral("信頼した証明書の鍵を「%1」に書き込めませんでした（%2）。\n接続は中止したままです。")
             .arg(QDir::toNativeSeparators(pins::filePath()), why),
         MsgButtons::Ok, MsgIcon::Exclamation);
  return false;
}

CertForm::CertForm(const ServerCertificate& c, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CertForm"));
  setWindowTitle(QStringLiteral("証明書の確認"));
  setModal(true);
  auto* column = new QVBoxLayout(this);

  IntroLabel = new QLabel(
      QStringLiteral("サーバー「%1」の証明書を確認できないため、接続を中止しました。IDやパスワード、メールは送っていません。\n"
                     "どの認証局もこの証明書を保証していないか、期限が切れているか、別の名前が書かれています。")
          .arg(c.server()),
      this);
  IntroLabel->setObjectName(QStringLiteral("IntroLabel"));
  IntroLabel->setWordWrap(true);
  IntroLabel->setTextFormat(Qt::PlainText);
  column->addWidget(IntroLabel);
  column->addSpacing(6);

  auto* grid = new QGridLayout;
  int row = 0;
  auto addRow = [&](const QString& caption, QLabel* shown) {
    auto* l = new QLabel(caption, this);
    l->setBuddy(shown);
    grid->addWidget(l, row, 0, Qt::AlignTop);
    grid->addWidget(shown, row, 1);
    ++row;
  };
  ServerText = value("ServerText", c.server(), this);
  SubjectText = value("SubjectText", c.subject, this);
  SubjectText->setWordWrap(true);
  IssuerText = value("IssuerText", c.issuer, this);
  IssuerText->setWordWrap(true);
  ValidityText = value("ValidityText", QStringLiteral("%1 ～ %2").arg(dateText(c.notBefore), dateText(c.notAfter)), this);
  FingerprintText = value("FingerprintText", c.fingerprint(), this);
  FingerprintText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  addRow(QStringLiteral("サーバー"), ServerText);
  addRow(QStringLiteral("発行先"), SubjectText);
  addRow(QStringLiteral("発行者"), IssuerText);
  addRow(QStringLiteral("有効期間"), ValidityText);
  addRow(QStringLiteral("SHA-256 フィンガープリント"), FingerprintText);
  grid->setColumnStretch(1, 1);
  column->addLayout(grid);
  column->addSpacing(6);

  NameWarning = new QLabel(QStringLiteral("この証明書に書かれた名前は、サーバー名「%1」と一致しません。").arg(c.host), this);
  NameWarning->setObjectName(QStringLiteral("NameWarning"));
  NameWarning->setWordWrap(true);
  NameWarning->setTextFormat(Qt::PlainText);
  NameWarning->setVisible(!c.nameMatches);
  column->addWidget(NameWarning);

  WarningLabel = new QLabel(
      QStringLiteral("このサーバーが自分のもの（または管理者を知っているもの）で、フィンガープリントが管理者から"
                     "聞いたものと同じだと確かめられた場合に限り、信頼して下さい。分からない場合は「信頼しない」を"
                     "押して下さい。\n信頼すると、このサーバーには今後この鍵の証明書だけを受け入れます。"),
      this);
  WarningLabel->setObjectName(QStringLiteral("WarningLabel"));
  WarningLabel->setWordWrap(true);
  WarningLabel->setTextFormat(Qt::PlainText);
  column->addWidget(WarningLabel);

  TrustCommand = new QPushButton(QStringLiteral("この証明書を信頼する"), this);
  TrustCommand->setObjectName(QStringLiteral("TrustCommand"));
  TrustCommand->setAutoDefault(false);
  DistrustCommand = new QPushButton(QStringLiteral("信頼しない"), this);
  DistrustCommand->setObjectName(QStringLiteral("DistrustCommand"));
  // Enter takes the side that changes nothing; Esc does too (QDialog).
  DistrustCommand->setDefault(true);
  DistrustCommand->setFocus();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(TrustCommand);
  buttons->addWidget(DistrustCommand);
  column->addLayout(buttons);
  connect(TrustCommand, &QPushButton::clicked, this, &QDialog::accept);
  connect(DistrustCommand, &QPushButton::clicked, this, &QDialog::reject);

}
