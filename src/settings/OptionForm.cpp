#include "OptionForm.h"

#include "OptionSignIn.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/WindowOrder.h"
#include "settings/files/AccountSettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {
SingleWindow<OptionForm> g_form;
}

OptionForm* OptionForm::instance() { return g_form.existing(); }

OptionForm* OptionForm::showDialog() {
  OptionForm* form = g_form.instance([] { return new OptionForm; });
  SetWindowPos(form, HWND_TOPMOST);
  form->activateWindow();
  return form;
}

OptionForm::OptionForm() : SettingsDialog("OptionForm", QStringLiteral("サーバー設定")) {
  auto* grid = new QGridLayout(this);
  auto field = [&](QLineEdit*& e, const char* name, const QString& caption, int row) {
    e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setMinimumWidth(320);
    auto* lb = new QLabel(caption, this);
    lb->setBuddy(e);
    grid->addWidget(lb, row * 2, 0, 1, 2);
    grid->addWidget(e, row * 2 + 1, 0, 1, 2);
  };
  field(SmtpText, "SmtpText", QStringLiteral("SMTPサーバー名(&S)"), 0);
  field(Pop3Text, "Pop3Text", QStringLiteral("POP3サーバー名(&P)"), 1);
  field(MailText, "MailText", QStringLiteral("メールアドレス(&M)"), 2);
  ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
  ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
  grid->addWidget(ApopCheck, 6, 0, 1, 2);
  PlainCheck = new QCheckBox(kPlainLoginCaption + QStringLiteral("(&U)"), this);
  PlainCheck->setObjectName(QStringLiteral("PlainCheck"));
  grid->addWidget(PlainCheck, 7, 0, 1, 2);
  grid->addWidget(buildLeaveGroup(), 10, 0, 1, 2);
  OkCommand = new QPushButton(QStringLiteral("設定"), this);
  OkCommand->setObjectName(QStringLiteral("OkCommand"));
  grid->addWidget(OkCommand, 8, 0);
  grid->addWidget(makeCancelCommand(QStringLiteral("中止")), 8, 1);
  // The dialog grows downwards: the design's controls keep their places.
  SignInGroup = addSignInGroup(this, grid, 9);
  connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);

  const auto& s = AccountSettings();
  SmtpText->setText(s.SmtpServer);
  Pop3Text->setText(s.Pop3Server);
  MailText->setText(s.MailAddress);
  ApopCheck->setChecked(s.ApopFlag != 0);  // any nonzero value means APOP
  // Ticked only when every server named holds the permission.
  const bool pop3 = PlainLoginAllowed(s.PlainPop3Server, s.Pop3Server);
  const bool smtp = PlainLoginAllowed(s.PlainSmtpServer, s.SmtpServer);
  PlainCheck->setChecked((pop3 || smtp) && (pop3 || s.Pop3Server.trimmed().isEmpty()) &&
                         (smtp || s.SmtpServer.trimmed().isEmpty()));
  // A permission given earlier was given for the names it came with: a new
  // name is a new host, and the permission is not carried over to it
  // unasked. Ticked in this dialog, it is given for the names confirmed.
  plainInherited_ = PlainCheck->isChecked();
  SignInGroup->load();
  connect(PlainCheck, &QCheckBox::clicked, this, [this] { plainInherited_ = false; });
  for (QLineEdit* server : {SmtpText, Pop3Text})
    connect(server, &QLineEdit::textEdited, this, [this] {
      if (plainInherited_) PlainCheck->setChecked(false);
      plainInherited_ = false;
    });
}

void OptionForm::OkCommand_Click() {
  auto& s = AccountSettings();
  const QString oldPop3 = s.Pop3Server;
  s.SmtpServer = SmtpText->text();
  s.Pop3Server = Pop3Text->text();
  s.MailAddress = MailText->text();
  s.ApopFlag = ApopCheck->isChecked() ? 1 : 0;
  s.PlainPop3Server = PlainCheck->isChecked() ? s.Pop3Server : QString();
  s.PlainSmtpServer = PlainCheck->isChecked() ? s.SmtpServer : QString();
  SignInGroup->store();
  storeLeaveGroup();
  if (!SaveServerSettings())
    MsgBox(QStringLiteral("サーバー設定を「%1」に保存できませんでした。設定はこの実行の間だけ有効です。").arg(serverSettingsPath()),
           MsgButtons::Ok, MsgIcon::Exclamation);
  // A password saved in the keyring is keyed by the POP3 server: it goes
  // with the account to the new name, as one in the account file does.
  if (!CarryPasswordToServer(oldPop3))
    MsgBox(QStringLiteral("キーリングに保存したパスワードを新しいサーバー名に移せませんでした。\n"
                          "「ID/PASS」でパスワードをもう一度保存して下さい。"),
           MsgButtons::Ok, MsgIcon::Exclamation);
  close();
}

QGroupBox* OptionForm::buildLeaveGroup() {
  LeaveGroup = new QGroupBox(QStringLiteral("受信したメール"), this);
  LeaveGroup->setObjectName(QStringLiteral("LeaveGroup"));
  auto* box = new QVBoxLayout(LeaveGroup);
  LeaveCheck = new QCheckBox(QStringLiteral("サーバーにメールを残す"), LeaveGroup);
  LeaveCheck->setObjectName(QStringLiteral("LeaveCheck"));
  box->addWidget(LeaveCheck);
  // "N日後にサーバーから削除": the number stands where N is, so the check
  // box carries no caption of its own.
  auto* days = new QHBoxLayout;
  LeaveDaysCheck = new QCheckBox(LeaveGroup);
  LeaveDaysCheck->setObjectName(QStringLiteral("LeaveDaysCheck"));
  LeaveDaysCheck->setAccessibleName(QStringLiteral("N日後にサーバーから削除"));
  LeaveDaysSpin = new QSpinBox(LeaveGroup);
  LeaveDaysSpin->setObjectName(QStringLiteral("LeaveDaysSpin"));
  LeaveDaysSpin->setAccessibleName(QStringLiteral("サーバーから削除するまでの日数"));
  LeaveDaysSpin->setRange(1, AccountSettingsRecord::kMaxLeaveDays);
  LeaveDaysLabel = new QLabel(QStringLiteral("日後にサーバーから削除"), LeaveGroup);
  LeaveDaysLabel->setObjectName(QStringLiteral("LeaveDaysLabel"));
  LeaveDaysLabel->setBuddy(LeaveDaysSpin);
  days->addWidget(LeaveDaysCheck);
  days->addWidget(LeaveDaysSpin);
  days->addWidget(LeaveDaysLabel);
  days->addStretch(1);
  box->addLayout(days);
  LeaveWithHereCheck = new QCheckBox(QStringLiteral("ここで削除したらサーバーからも削除"), LeaveGroup);
  LeaveWithHereCheck->setObjectName(QStringLiteral("LeaveWithHereCheck"));
  box->addWidget(LeaveWithHereCheck);

  const auto& s = AccountSettings();
  LeaveCheck->setChecked(s.LeaveOnServer);
  LeaveDaysCheck->setChecked(s.LeaveDeleteAfterDays);
  LeaveDaysSpin->setValue(s.LeaveDays);
  LeaveWithHereCheck->setChecked(s.LeaveDeleteWithHere);
  // The two ways of deleting there mean something only while mail is left.
  auto follow = [this] {
    const bool leave = LeaveCheck->isChecked();
    LeaveDaysCheck->setEnabled(leave);
    LeaveDaysSpin->setEnabled(leave && LeaveDaysCheck->isChecked());
    LeaveDaysLabel->setEnabled(leave);
    LeaveWithHereCheck->setEnabled(leave);
  };
  connect(LeaveCheck, &QCheckBox::toggled, this, follow);
  connect(LeaveDaysCheck, &QCheckBox::toggled, this, follow);
  follow();
  return LeaveGroup;
}

void OptionForm::storeLeaveGroup() {
  auto& s = AccountSettings();
  s.LeaveOnServer = LeaveCheck->isChecked();
  s.LeaveDeleteAfterDays = LeaveDaysCheck->isChecked();
  s.LeaveDays = LeaveDaysSpin->value();
  s.LeaveDeleteWithHere = LeaveWithHereCheck->isChecked();
}
