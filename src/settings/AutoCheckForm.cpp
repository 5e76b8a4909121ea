#include "AutoCheckForm.h"

#include "platform/SharedState.h"
#include "platform/ui/MsgBox.h"
#include "settings/files/AutoCheckFile.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>

namespace {
QPointer<AutoCheckForm> g_form;
}

AutoCheckForm* AutoCheckForm::instance() { return g_form; }

AutoCheckForm* AutoCheckForm::showDialog() {
  if (!g_form) g_form = new AutoCheckForm;
  g_form->show();
  g_form->raise();
  g_form->activateWindow();
  return g_form;
}

AutoCheckForm::AutoCheckForm() : QWidget(nullptr) {
  setObjectName(QStringLiteral("AutoCheckForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("自動受信"));
  auto* grid = new QGridLayout(this);
  AutoCheck = new QCheckBox(QStringLiteral("一定の間隔でメールを自動受信する(&A)"), this);
  AutoCheck->setObjectName(QStringLiteral("AutoCheck"));
  grid->addWidget(AutoCheck, 0, 0, 1, 2);
  MinutesLabel = new QLabel(QStringLiteral("受信の間隔（分）(&N)"), this);
  MinutesLabel->setObjectName(QStringLiteral("MinutesLabel"));
  MinutesSpin = new QSpinBox(this);
  MinutesSpin->setObjectName(QStringLiteral("MinutesSpin"));
  MinutesSpin->setRange(kAutoCheckMinMinutes, kAutoCheckMaxMinutes);
  MinutesLabel->setBuddy(MinutesSpin);
  grid->addWidget(MinutesLabel, 1, 0);
  grid->addWidget(MinutesSpin, 1, 1);
  OkCommand = new QPushButton(QStringLiteral("設定"), this);
  OkCommand->setObjectName(QStringLiteral("OkCommand"));
  OkCommand->setDefault(true);
  CancelCommand = new QPushButton(QStringLiteral("中止"), this);
  CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
  grid->addWidget(OkCommand, 2, 0);
  grid->addWidget(CancelCommand, 2, 1);
  connect(OkCommand, &QPushButton::clicked, this, &AutoCheckForm::OkCommand_Click);
  connect(CancelCommand, &QPushButton::clicked, this, &AutoCheckForm::CancelCommand_Click);
  // The interval matters only while the box is ticked.
  connect(AutoCheck, &QCheckBox::toggled, MinutesSpin, &QWidget::setEnabled);
  connect(AutoCheck, &QCheckBox::toggled, MinutesLabel, &QWidget::setEnabled);

  const AutoCheckChoice c = ReadAutoCheck();
  MinutesSpin->setValue(c.minutes);
  AutoCheck->setChecked(c.on);
  MinutesSpin->setEnabled(c.on);
  MinutesLabel->setEnabled(c.on);
}

void AutoCheckForm::OkCommand_Click() {
  const AutoCheckChoice c{AutoCheck->isChecked(), MinutesSpin->value()};
  if (!WriteAutoCheck(c))
    MsgBox(QStringLiteral("自動受信の設定を「%1」に保存できませんでした。")
               .arg(QDir::toNativeSeparators(autoCheckFilePath())),
           MsgButtons::Ok, MsgIcon::Exclamation);
  // Taken up from the file: a choice that could not be kept is not in force.
  if (shared::MainWindow.autoCheckChanged) shared::MainWindow.autoCheckChanged();
  close();
}

void AutoCheckForm::CancelCommand_Click() { close(); }

void AutoCheckForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    CancelCommand->click();
    return;
  }
  QWidget::keyPressEvent(event);
}
