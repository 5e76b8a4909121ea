#include "MainForm.h"

#include "addressbook/FriendForm.h"
#include "composer/WriteForm.h"
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/Controls.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/NamedMenu.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowOrder.h"
#include "reception/maillib/MailLib.h"
#include "settings/IdPassForm.h"
#include "settings/KeyringQuestion.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/StateFile.h"
#include "shell/CheckMail.h"
#include "shell/ShopPicture.h"
#include "shell/TaikiForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

namespace {
MainForm* g_main = nullptr;

// Client area of the window, in twips.
constexpr double kClientWidth = 9600;
constexpr double kClientHeight = 6300;
}  // namespace

MainForm* MainForm::instance() { return g_main; }

MainForm::MainForm(QWidget* parent) : QMainWindow(parent) {
  g_main = this;
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("灯火亭　Ver 1.0"));
  buildControls();
  shared::MainWindow = {[this] { return Check1->checkState(); },
                        [this](const QString& count) { Text4->setText(count); },
                        [this](const QString& text) { Text1->setPlainText(text); },
                        [this] { loadAutoCheck(); },
                        [this](bool done) { mailBroughtIn(done); }};
  buildMenu();
  connectShop();
  buildAutoCheck();
  Form_Load();
}

MainForm::~MainForm() {
  if (g_main != this) return;
  g_main = nullptr;
  shared::MainWindow = {};
}

void MainForm::buildControls() {
  auto* surface = new QWidget(this);
  surface->setObjectName(QStringLiteral("MainSurface"));
  setCentralWidget(surface);
  surface->setMinimumSize(twips::toPx(kClientWidth), twips::toPx(kClientHeight));
  resize(surface->minimumSize());

  const Controls c(surface);
  auto check = [&](QCheckBox*& box, const char* name, QLabel* beside, double l, double t) {
    // The check boxes have no caption of their own; the label beside them
    // carries the text.
    box = named(new QCheckBox(surface), name);
    box->setAccessibleName(beside->text().trimmed());
    c.place(box, l, t, 300, 300);
    // The mark sits on the middle of the label's first line, however many
    // lines the label takes.
    beside->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->move(box->x(), beside->y() + beside->fontMetrics().height() / 2 - box->height() / 2);
  };

  // The shop: a still picture, or the scenery page in its place.
  Picture3 = new QLabel(surface);
  Picture3->setObjectName(QStringLiteral("Picture3"));
  Picture3->setAccessibleName(QStringLiteral("店の絵"));
  twips::place(Picture3, 120, 120, 4800, 3600);
  Picture3->setPixmap(paintShopPicture(Picture3->size()));
  WebBrowser1 = new QTextBrowser(surface);
  WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
  WebBrowser1->setAccessibleName(QStringLiteral("景色"));
  twips::place(WebBrowser1, 120, 120, 4800, 3600);

  // Music and scenery.
  c.button(Command2, "Command2", QStringLiteral("BGM ON"), 120, 3840, 1080, 375);
  c.button(Command7, "Command7", QStringLiteral("BGM OFF"), 1260, 3840, 1080, 375);
  c.button(Command8, "Command8", QStringLiteral("宵待ち草(Click)"), 2400, 3840, 1980, 375);
  c.box(Text5, "Text5", QStringLiteral("曲番号"), 4440, 3860, 480, 330);
  c.label(Label3, "Label3", QStringLiteral("ループ"), 460, 4340, 700, 300)->setWordWrap(true);
  check(Check3, "Check3", Label3, 120, 4340);
  c.button(Command9, "Command9", QStringLiteral("店を覗く"), 1260, 4290, 1080, 375);
  c.button(Command11, "Command11", QStringLiteral("店を出る"), 2400, 4290, 1080, 375);
  c.button(Command10, "Command10", QStringLiteral("HP"), 3540, 4290, 1380, 375);

  // The main actions.
  c.button(Command4, "Command4", QStringLiteral("メール受信"), 5160, 120, 2160, 450);
  c.button(Command6, "Command6", QStringLiteral("メールを見る"), 5160, 630, 2160, 450);
  c.button(Command3, "Command3", QStringLiteral("新規作成"), 5160, 1140, 2160, 450);
  c.button(Command5, "Command5", QStringLiteral("アドレス帳"), 5160, 1650, 2160, 450);
  c.button(Command1, "Command1", QStringLiteral("初期設定"), 5160, 2160, 2160, 450);

  // Displays.
  c.label(Label5, "Label5", QStringLiteral("　新着数"), 7500, 120, 1980, 300)->setWordWrap(true);
  c.box(Text6, "Text6", QStringLiteral("新着数"), 7500, 420, 1980, 330);
  c.label(Label4, "Label4", QStringLiteral("着信数（累積）"), 7500, 900, 1980, 300)->setWordWrap(true);
  c.box(Text4, "Text4", QStringLiteral("着信数（累積）"), 7500, 1200, 1980, 330);
  c.box(Text3, "Text3", QStringLiteral("受信状況"), 5160, 2760, 4320, 330);
  c.box(Text2, "Text2", QStringLiteral("日付と時刻"), 5160, 3150, 4320, 330);
  for (QLineEdit* e : {Text2, Text3, Text4, Text6}) e->setReadOnly(true);

  c.label(Label1, "Label1", QStringLiteral("説明表示"), 5500, 3620, 3980, 300)->setWordWrap(true);
  check(Check1, "Check1", Label1, 5160, 3620);
  c.label(Label2, "Label2", QStringLiteral("新着メール有りで、メールを見るを自動表示"), 5500, 3980, 3980, 600)->setWordWrap(true);
  check(Check2, "Check2", Label2, 5160, 3980);

  Text1 = new QPlainTextEdit(surface);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setAccessibleName(QStringLiteral("説明"));
  Text1->setReadOnly(true);
  twips::place(Text1, 120, 4860, 9360, 1320);
  Text1->hide();  // shown by "説明表示"

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(20);
  Timer3 = new QTimer(this);
  Timer3->setObjectName(QStringLiteral("Timer3"));
  Timer4 = new QTimer(this);
  Timer4->setObjectName(QStringLiteral("Timer4"));

  connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
  connect(Command4, &QPushButton::clicked, this, &MainForm::Command4_Click);
  connect(Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
  connect(Command5, &QPushButton::clicked, this, &MainForm::Command5_Click);
  connect(Command6, &QPushButton::clicked, this, &MainForm::Command6_Click);
  connect(Check1, &QCheckBox::toggled, this, &MainForm::Check1_Click);
  connect(Timer2, &QTimer::timeout, this, &MainForm::Timer2_Timer);

  help_.set(Check1, QStringLiteral("チェックを入れると、各画面で、ボタン類にマウスカーソルを移動させた時に、対応した説明が表示されます。チェックを外すと、非表示になります。"));
  help_.set(Check2, QStringLiteral("チェックを入れると、メールを受信し、新着メールがあった場合のみ、「メールを見る」画面を自動表示します。"));
  help_.set(Command1, QStringLiteral("ID,PASS,サーバーの設定を行います。この設定を行わないと、通信エラーが発生します。全５項目。"));
  help_.set(Command3, QStringLiteral("メールの新規作成・送信が行えます。"));
  help_.set(Command4, QStringLiteral("新着メールの受信を行います。"));
  help_.set(Command5, QStringLiteral("アドレス帳に登録、新規作成画面でのアドレス一発入力が出来るようになります。"));
  help_.set(Command6, QStringLiteral("受信したメールを見ます。"));
  help_.set(Text3, QStringLiteral("新着メールの有無を文字で表示します。"));
  help_.set(Text4, QStringLiteral("これまでに受信したメールの累積数を表示します。「メールを見る」画面で削除を行うと、それに伴って数字が変化します。"));
  help_.set(Text6, QStringLiteral("新着メール受信で、新着メール数を表示します。新着メールがなければ「０」が表示されます。"));
}

void MainForm::buildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file->setObjectName(QStringLiteral("mFile"));
  mcheck = addNamedItem(file, "mcheck", QStringLiteral("メールチェック"));
  mview = addNamedItem(file, "mview", QStringLiteral("メールを見る"));
  mshinki = addNamedItem(file, "mshinki", QStringLiteral("新規作成"));
  mfriend = addNamedItem(file, "mfriend", QStringLiteral("アドレス帳"));
  file->addSeparator();
  mzenmen = addNamedItem(file, "mzenmen", QStringLiteral("常に前面表示"));
  mkaijyo = addNamedItem(file, "mkaijyo", QStringLiteral("常に前面表示解除"));
  mtaiki = addNamedItem(file, "mtaiki", QStringLiteral("待機"));
  file->addSeparator();
  mkakunin = addNamedItem(file, "mkakunin", QStringLiteral("イベント確認"));
  mmodosu = addNamedItem(file, "mmodosu", QStringLiteral("戻す"));
  file->addSeparator();
  mhome = addNamedItem(file, "mhome", QStringLiteral("作者のホームページ"));
  file->addSeparator();
  mend = addNamedItem(file, "mend", QStringLiteral("終了"));

  // These menu items do exactly what the button of the same role does.
  connect(mcheck, &QAction::triggered, Command4, &QPushButton::click);
  connect(mview, &QAction::triggered, Command6, &QPushButton::click);
  connect(mshinki, &QAction::triggered, Command3, &QPushButton::click);
  connect(mfriend, &QAction::triggered, Command5, &QPushButton::click);
  connect(mmodosu, &QAction::triggered, Command11, &QPushButton::click);
  connect(mend, &QAction::triggered, this, &MainForm::mend_Click);
  connect(mzenmen, &QAction::triggered, this, &MainForm::mzenmen_Click);
  connect(mkaijyo, &QAction::triggered, this, &MainForm::mkaijyo_Click);
  connect(mtaiki, &QAction::triggered, this, &MainForm::mtaiki_Click);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
    const QString* help = help_.find(watched);
    if (help && Text1->toPlainText() != *help) Text1->setPlainText(*help);
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainForm::Form_Load() {
  // The still picture in front; the scenery page hidden at its start place.
  Picture3->show();
  WebBrowser1->hide();
  setSceneryLeft(120);
  Command8->setText(QStringLiteral("宵待ち草(Click)"));
  Text5->setText(QStringLiteral("0"));

  // The remembered choices: 1 checks, 0 unchecks, anything else leaves
  // the box as it is.
  const StateChoices st = ReadStateFile();
  if (st.number == 1) Check1->setChecked(true);
  if (st.number == 0) Check1->setChecked(false);
  if (st.number2 == 1) Check2->setChecked(true);
  if (st.number2 == 0) Check2->setChecked(false);

  // The received-mail file, created empty when missing, and its count.
  const QString mailFile = paths::resolve(paths::kReceivedMailFile);
  store::RecordFile f(mailFile, store::MailRecord::kLength);
  if (f.open()) {
    // Complete records, as the viewer lists them.
    Text4->setText(QString::number(f.recordCount()));
    f.close();
  } else {
    Text4->setText(QStringLiteral("0"));
    MsgBox(QStringLiteral("データフォルダ「%1」が見つかりません。\n"
                          "このままではメールを受信・保存できません。\n\n"
                          "プログラムフォルダを作り直すには、次のコマンドを実行して下さい。\n"
                          "tomoshibi --init-home \"%2\"")
               .arg(QDir::toNativeSeparators(paths::resolve(paths::kDataFolder)),
                    QDir::toNativeSeparators(paths::programFolder())),
           MsgButtons::Ok, MsgIcon::Exclamation);
  }

  // The server settings.
  LoadServerSettings();

  // The mail library.
  MailLibInitialize();
  MailLibSetOption(1, 8192);

  Timer1->start();
  Timer2->start();
  Timer2_Timer();
  loadAutoCheck();
  watchMailFile();

  // A password the account file still holds moves into a keyring found
  // now, if the user agrees (asked once).
  OfferKeyringMove();
  // No POP3 server yet: ask for it.
  if (AccountSettings().Pop3Server.isEmpty()) OptionForm::showDialog();
  // No ID or password saved: ask for them.
  IdPassForm* idPass = IdPassForm::instance();
  if (idPass->IdText->text().isEmpty() || idPass->PassText->text().isEmpty())
    idPass->showDialog();
  else
    idPass->deleteLater();  // loaded only to look; every opening reads afresh
}

void MainForm::Timer2_Timer() {
  const QDateTime now = QDateTime::currentDateTime();
  const QString t = now.toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral("  ") + now.toString(QStringLiteral("H:mm:ss"));
  if (Text2->text() != t) Text2->setText(t);
}

void MainForm::Check1_Click() { Text1->setVisible(Check1->isChecked()); }

void MainForm::Command1_Click() { SetForm::showDialog(); }

void MainForm::Command4_Click() { runCheck(false); }

void MainForm::Command3_Click() {
  // One compose window: a second press brings the open one forward.
  const bool open = WriteForm::existing() != nullptr;
  bringUp(WriteForm::instance(), open);
}

void MainForm::Command5_Click() { bringUp(FriendForm::instance()); }

void MainForm::Command6_Click() {
  TyakuForm* viewer = TyakuForm::instance();
  bringUp(viewer);
  viewer->setWindowTitle(QStringLiteral("着信履歴"));
  viewer->FillMailList();
}

void MainForm::mzenmen_Click() { SetWindowPos(this, HWND_TOPMOST); }

void MainForm::mkaijyo_Click() { SetWindowPos(this, HWND_NOTOPMOST); }

void MainForm::mtaiki_Click() {
  // The standby window puts itself on top as it loads. This window stays
  // loaded: its clock, music and scenery go on.
  TaikiForm* standby = TaikiForm::instance();
  standby->show();
  standby->raise();
  hide();
}

void MainForm::mend_Click() {
  Form_QueryUnload();
  Form_Unload();
}

void MainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The start-up dialogs were shown before this window: keep them in front
  // even where the window system ignores "always on top".
  QTimer::singleShot(0, this, [] {
    if (OptionForm* o = OptionForm::instance()) o->raise();
    if (IdPassForm* i = IdPassForm::existing(); i && i->isVisible()) i->raise();
  });
}

void MainForm::closeEvent(QCloseEvent* event) {
  Form_QueryUnload();
  Form_Unload();
  event->accept();
}

void MainForm::Form_QueryUnload() {
  // The viewer's list gets its own headings back before the process ends.
  if (TyakuForm* viewer = TyakuForm::existing()) viewer->unhookListHeaders();
}

void MainForm::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  stopMusic();
  // The results of these writes are not examined: a missing data folder
  // loses the choices, as it loses everything else.
  WriteStateFile(Check1->isChecked(), Check2->isChecked());
  MailLibEnd();
  // The process ends at once; other windows get no closing steps of their own.
  QCoreApplication::exit(0);
}
