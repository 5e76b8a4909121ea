#include "TaikiForm.h"

#include "platform/ui/SingleWindow.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowOrder.h"
#include "shell/MainForm.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTime>
#include <QTimer>

namespace {
SingleWindow<TaikiForm> g_form;
}  // namespace

TaikiForm* TaikiForm::existing() { return g_form.existing(); }

TaikiForm* TaikiForm::instance() { return g_form.instance([] { return new TaikiForm; }); }

TaikiForm::TaikiForm() : QWidget(nullptr) {
  setObjectName(QStringLiteral("TaikiForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("待機中"));
  setFixedSize(twips::toPx(3000), twips::toPx(1320));

  Text1 = new QLineEdit(this);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setAccessibleName(QStringLiteral("現在の時刻"));
  Text1->setReadOnly(true);
  Text1->setAlignment(Qt::AlignCenter);
  QFont f = Text1->font();
  f.setPointSizeF(f.pointSizeF() * 1.5);
  Text1->setFont(f);
  twips::place(Text1, 120, 120, 2760, 480);

  Command1 = new QPushButton(QStringLiteral("復帰"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  twips::place(Command1, 840, 720, 1320, 420);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  connect(Command1, &QPushButton::clicked, this, &TaikiForm::Command1_Click);
  connect(Timer1, &QTimer::timeout, this, &TaikiForm::Timer1_Timer);
  Form_Load();
}

TaikiForm::~TaikiForm() = default;

void TaikiForm::Form_Load() {
  SetWindowPos(this, HWND_TOPMOST);
  // The time from the first moment, not only after the first tick.
  Timer1_Timer();
  Timer1->start();
}

QString TaikiForm::clockText(const QTime& time, const QLocale& locale) {
  // Drop the time-zone field ("t", outside quoted text) and the spaces
  // that set it apart.
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString kept;
  bool quoted = false;
  for (QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    kept += c;
  }
  return locale.toString(time, kept.simplified());
}

void TaikiForm::Timer1_Timer() {
  const QString now = clockText(QTime::currentTime(), QLocale::system());
  if (Text1->text() != now) Text1->setText(now);
}

void TaikiForm::Command1_Click() { close(); }

void TaikiForm::closeEvent(QCloseEvent* event) {
  // However the window goes, the main window comes back: the process has
  // no other window to end it from.
  if (MainForm* main = MainForm::instance()) main->show();
  event->accept();
}
