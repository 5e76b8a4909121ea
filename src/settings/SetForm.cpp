#include "SetForm.h"

#include "platform/ui/SingleWindow.h"
#include "settings/AutoCheckForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace {
SingleWindow<SetForm> g_form;
}

SetForm* SetForm::instance() { return g_form.existing(); }

SetForm* SetForm::showDialog() {
  SetForm* form = g_form.instance([] { return new SetForm; });
  bringUp(form);
  return form;
}

SetForm::SetForm() : QWidget(nullptr) {
  setObjectName(QStringLiteral("SetForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("設定"));
  auto* lay = new QHBoxLayout(this);
  Command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
  Command2->setObjectName(QStringLiteral("Command2"));
  // The third goes after the two, which keep their places; the window grows.
  Command3 = new QPushButton(QStringLiteral("自動受信"), this);
  Command3->setObjectName(QStringLiteral("Command3"));
  for (QPushButton* b : {Command1, Command2, Command3}) {
    b->setMinimumSize(140, 40);
    lay->addWidget(b);
  }
  connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &SetForm::Command3_Click);
}

void SetForm::Command1_Click() { IdPassForm::instance()->showDialog(); }
void SetForm::Command2_Click() { OptionForm::showDialog(); }
void SetForm::Command3_Click() { AutoCheckForm::showDialog(); }
