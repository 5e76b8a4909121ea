#include "AutoCheckForm.h"

#include "platform/SharedState.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "settings/files/AutoCheckFile.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {
SingleWindow<AutoCheckForm> g_form;
}

AutoCheckForm* AutoCheckForm::instance() { return g_form.existing(); }

AutoCheckForm* AutoCheckForm::showDialog() {
  AutoCheckForm* form = g_form.instance([] { return new AutoCheckForm; });
  bringUp(form);
  return form;
}

AutoCheckForm::AutoCheckForm() : SettingsDialog("AutoCheckForm", QStringLiteral("自動受信")) {
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
  grid->addWidget(OkCommand, 2, 0);
  grid->addWidget(makeCancelCommand(QStringLiteral("中止")), 2, 1);
  connect(OkCommand, &QPushButton::clicked, this, &AutoCheckForm::OkCommand_Click);
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
