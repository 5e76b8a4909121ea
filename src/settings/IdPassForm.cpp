#include "IdPassForm.h"

#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "settings/files/AccountSettings.h"
#include "settings/secrets/Secrets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
SingleWindow<IdPassForm> g_form;
}

IdPassForm* IdPassForm::existing() { return g_form.existing(); }

IdPassForm* IdPassForm::instance() { return g_form.instance([] { return new IdPassForm; }); }

void IdPassForm::showDialog() { bringUp(this); }

IdPassForm::IdPassForm() : SettingsDialog("IdPassForm", QStringLiteral("ID,PASS")) {
  auto* grid = new QGridLayout(this);
  IdText = new QLineEdit(this);
  IdText->setObjectName(QStringLiteral("IdText"));
  PassText = new QLineEdit(this);
  PassText->setObjectName(QStringLiteral("PassText"));
  PassText->setEchoMode(QLineEdit::Password);
  PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // '*'
  auto* idLabel = new QLabel(QStringLiteral("ID"), this);
  idLabel->setBuddy(IdText);
  auto* passLabel = new QLabel(QStringLiteral("Password"), this);
  passLabel->setBuddy(PassText);
  grid->addWidget(idLabel, 0, 0);
  grid->addWidget(IdText, 0, 1, 1, 2);
  grid->addWidget(passLabel, 1, 0);
  grid->addWidget(PassText, 1, 1, 1, 2);
  Check1 = new QCheckBox(this);
  Check1->setObjectName(QStringLiteral("Check1"));
  Label3 = new QLabel(QStringLiteral("IDパスワードを保存する"), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Check1->setAccessibleName(Label3->text());
  auto* saveRow = new QHBoxLayout;
  saveRow->addWidget(Check1);
  saveRow->addWidget(Label3, 1);
  grid->addLayout(saveRow, 2, 0, 1, 3);
  KeyringLabel = new QLabel(this);
  KeyringLabel->setObjectName(QStringLiteral("KeyringLabel"));
  KeyringLabel->setWordWrap(true);
  grid->addWidget(KeyringLabel, 3, 0, 1, 3);
  OKCommand = new QPushButton(QStringLiteral("OK"), this);
  OKCommand->setObjectName(QStringLiteral("OKCommand"));
  OKCommand->setDefault(true);
  OKCommand->setAutoDefault(true);
  grid->addWidget(OKCommand, 4, 1);
  grid->addWidget(makeCancelCommand(QStringLiteral("Cancel")), 4, 2);
  IdText->setMinimumWidth(220);
  connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
  // Enter confirms from either box; Esc cancels.
  connect(IdText, &QLineEdit::returnPressed, OKCommand, &QPushButton::click);
  connect(PassText, &QLineEdit::returnPressed, OKCommand, &QPushButton::click);

  const AccountFileValues v = ReadAccountFile(secrets::Prompt::Allowed);
  IdText->setText(v.id);
  PassText->setText(v.password);
  Check1->setChecked(false);
  KeyringLabel->setText(placeText(v));
}

QString IdPassForm::placeText(const AccountFileValues& v) {
  if (!secrets::keyringAvailable())
    return QStringLiteral("キーリングがないため、パスワードはこのコンピュータのファイルに保存します（あなただけが読めます）。");
  switch (v.status) {
    case secrets::Status::Locked:
      return QStringLiteral("キーリングがロックされていて、保存したパスワードを読めませんでした。パスワードはデスクトップのキーリングに保存します。");
    case secrets::Status::Failed:
      return QStringLiteral("キーリングから保存したパスワードを読めませんでした（%1）。パスワードはデスクトップのキーリングに保存します。")
          .arg(v.detail);
    default:
      break;
  }
  // Left in the file when the user declined to move it.
  if (v.inFile)
    return QStringLiteral("パスワードは今このコンピュータのファイルにあります。「IDパスワードを保存する」をチェックしてOKを押すと、デスクトップのキーリングに移します。");
  return QStringLiteral("パスワードはデスクトップのキーリングに保存します。");
}

void IdPassForm::OKCommand_Click() {
  auto& s = AccountSettings();
  s.UserId = IdText->text();
  s.Password = PassText->text();
  const bool save = Check1->isChecked();
  // Declining to save only records the choice; a failure to record it is of
  // no consequence. A requested save that fails must not pass for success.
  const AccountFileWrite written = WriteAccountFile(IdText->text(), PassText->text(), save);
  if (!written && save && written.toKeyring && written.keyring != secrets::Status::Ok)
    MsgBox(QStringLiteral("パスワードをデスクトップのキーリングに保存できませんでした（%1）。\n入力した値はこの実行の間だけ使われます。")
               .arg(written.keyring == secrets::Status::Locked ? QStringLiteral("ロックが解除されませんでした")
                    : written.detail.isEmpty()                 ? QStringLiteral("キーリングが応答しません")
                                                               : written.detail),
           MsgButtons::Ok, MsgIcon::Exclamation);
  else if (!written && save)
    MsgBox(QStringLiteral("IDとパスワードを「%1」に保存できませんでした。\n入力した値はこの実行の間だけ使われます。")
               .arg(accountFilePath()),
           MsgButtons::Ok, MsgIcon::Exclamation);
  close();
}
