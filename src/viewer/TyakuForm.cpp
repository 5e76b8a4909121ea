#include "TyakuForm.h"

#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Controls.h"
#include "platform/ui/ListHeaders.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/NamedMenu.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/TextFit.h"
#include "platform/ui/Twips.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QHelpEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>
#include <QToolBar>
#include <QTreeView>

namespace {

SingleWindow<TyakuForm> g_viewer;

// The client area as first laid out, in twips: the list spans its width and the
// status bar ends at its bottom.
constexpr double kClientWidth = 9375;
constexpr double kClientHeight = 7320;
constexpr double kStatusBarHeight = 375;
// Room kept between a box and the client area's right edge, so that its
// border stays in view.
constexpr double kEdgeRoom = 15;
// What the sender and the date box must show whole: a typical sender, and
// a date as mail carries it.
const QString kTypicalSender = QStringLiteral("山田太郎 <yamada@example.jp>");
const QString kTypicalDate = QStringLiteral("Wed, 30 Dec 2026 10:23:45 +0900");

void setFace(QPushButton* b, const QColor& face) {
  QPalette p = b->palette();
  p.setColor(QPalette::Button, face);
  b->setPalette(p);
}

// The list's texts keep the padding of their fields; drawn as they are,
// every row would end in an ellipsis for spaces alone.
class PaddedFieldDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = text::trimRight(option->text);
  }

  // A text the column cuts shows whole in the cell's tooltip.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid())
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QStyle* style = view->style();
    // As the style draws it: the text's rectangle less a margin either side.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, view).width() - 2 * margin;
    if (opt.fontMetrics.horizontalAdvance(opt.text) > room)
      QToolTip::showText(event->globalPos(), opt.text, view->viewport(), option.rect);
    else
      QToolTip::hideText();
    return true;
  }
};

}  // namespace

TyakuForm* TyakuForm::existing() { return g_viewer.existing(); }

TyakuForm* TyakuForm::instance() { return g_viewer.instance([] { return new TyakuForm; }); }

TyakuForm::TyakuForm() : QMainWindow(nullptr) {
  g_viewer.hold(this);
  setObjectName(QStringLiteral("TyakuForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  originalHeaderOf = viewer::originalHeader;
  buildControls();
  buildMenus();
  buildToolBar();
  connectTextCommands();
  resize(twips::toPx(kClientWidth), menuBar()->sizeHint().height() + twips::toPx(kClientHeight));
  Form_Load();
}

TyakuForm::~TyakuForm() {
  // Widths dragged just before the window went without a close.
  if (columnsSave_->isActive()) saveColumnWidths();
}

void TyakuForm::resizeOuterTwips(double width, double height) { book_.resizeOuter(this, width, height); }

void TyakuForm::buildControls() {
  surface_ = new QWidget(this);
  surface_->setObjectName(QStringLiteral("TyakuSurface"));
  setCentralWidget(surface_);
  // The layout follows the mouse over the bare surface.
  surface_->setMouseTracking(true);
  surface_->installEventFilter(this);

  const Controls c(surface_, &book_);
  const QColor grey(192, 192, 192);

  // The toolbar runs along the top; the top row's controls lie over its
  // right-hand part, where it has no buttons.
  tbToolBar = new QToolBar(surface_);
  tools_.setUp(tbToolBar);

  // Top row.
  setFace(c.button(Command2, "Command2", QStringLiteral("TextQuickSave"), 3960, 0, 1815, 340), grey);
  Frame1 = new QFrame(surface_);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setFrameShape(QFrame::Panel);
  Frame1->setFrameShadow(QFrame::Raised);
  book_.place(Frame1, 6120, 0, 960, 375);
  c.on(Frame1).label(Label2, "Label2", QStringLiteral("検索文字"), 30, 30, 900, 315)->setAlignment(Qt::AlignCenter);
  c.box(Text1, "Text1", QStringLiteral("検索文字"), 7080, 0, 1935, 375);
  Label2->setBuddy(Text1);

  // Button row.
  setFace(c.button(Command3, "Command3", QStringLiteral("    一件削除"), 120, 520, 1335, 375), QColor(255, 128, 255));
  setFace(c.button(Command4, "Command4", QStringLiteral("    アドレス帳登録"), 1560, 520, 1575, 375), QColor(255, 192, 128));
  setFace(c.button(Command5, "Command5", QStringLiteral("   返事を書く"), 3240, 520, 1455, 375), QColor(128, 255, 255));
  setFace(c.button(Command6, "Command6", QStringLiteral("   全件削除"), 4800, 520, 1455, 375), QColor(255, 0, 0));
  c.label(Label4, "Label4", QStringLiteral("件数"), 6600, 520, 540, 270);
  c.box(Text2, "Text2", QStringLiteral("件数"), 7200, 480, 495, 270);
  c.box(Text5, "Text5", QStringLiteral("選択"), 9720, 480, 735, 375);
  // Both are written by the program only: the count follows the list and the
  // marker follows clicks in it.
  Text2->setReadOnly(true);
  Text5->setReadOnly(true);
  // The marker is state, not something to read: it is never shown.
  Text5->hide();
  Label4->setBuddy(Text2);

  // The decoration band between the buttons and the list.
  auto* band = new QFrame(surface_);
  band->setObjectName(QStringLiteral("Picture1"));
  band->setAccessibleName(QStringLiteral("飾り帯"));
  band->setAutoFillBackground(true);
  QPalette bandPalette = band->palette();
  bandPalette.setColor(QPalette::Window, listheaders::kFace);
  band->setPalette(bandPalette);
  book_.place(band, 0, 900, kClientWidth, 45);
  Picture1.insert(1, band);

  // The list and the mail.
  MailListView = new QTreeView(surface_);
  MailListView->setObjectName(QStringLiteral("MailListView"));
  MailListView->setAccessibleName(QStringLiteral("受信メール一覧"));
  mailList = new MailListModel(this);
  setUpRecordList(MailListView, mailList);
  MailListView->setItemDelegate(new PaddedFieldDelegate(MailListView));
  MailListView->header()->setStretchLastSection(true);
  // The user may drag "Subject" and "From" to other widths; they are kept.
  MailListView->header()->setSectionResizeMode(QHeaderView::Interactive);
  connect(MailListView->header(), &QHeaderView::sectionResized, this,
          [this](int column, int, int) { columnResized(column); });
  columnsSave_ = new QTimer(this);
  columnsSave_->setSingleShot(true);
  columnsSave_->setInterval(500);
  connect(columnsSave_, &QTimer::timeout, this, &TyakuForm::saveColumnWidths);
  MailListView->header()->setSectionsClickable(true);
  MailListView->viewport()->installEventFilter(this);
  book_.place(MailListView, 0, 960, 9375, 1815);

  c.box(Text7, "Text7", QStringLiteral("件名"), 0, 2760, 4695, 375);
  c.box(Text8, "Text8", QStringLiteral("差出人"), 4680, 2760, 3015, 375);
  c.box(Text9, "Text9", QStringLiteral("日付"), 7695, 2760, 1680, 375);
  for (QLineEdit* b : {Text7, Text8, Text9}) {
    // A value put in by the program is shown from its start, as one reads it.
    connect(b, &QLineEdit::textChanged, b, [b] {
      if (!b->hasFocus()) b->setCursorPosition(0);
    });
    // What a box cuts, its tooltip shows whole.
    textfit::tipWhenCut(b);
  }

  rtfEd = new QPlainTextEdit(surface_);
  rtfEd->setObjectName(QStringLiteral("rtfEd"));
  rtfEd->setAccessibleName(QStringLiteral("本文"));
  book_.place(rtfEd, 0, 3120, 9375, 3735);

  // The help box lies over the body box.
  Text4 = new QPlainTextEdit(surface_);
  Text4->setObjectName(QStringLiteral("Text4"));
  Text4->setAccessibleName(QStringLiteral("説明"));
  Text4->setReadOnly(true);
  // It explains what the mouse is over: the mouse passes through it to what
  // lies under it, which may hide it again.
  Text4->setAttribute(Qt::WA_TransparentForMouseEvents);
  book_.place(Text4, 1320, 3840, 5535, 1935);
  // It lies over the body box: shown only when there is an explanation to
  // give, so an empty box never hides the mail.
  Text4->hide();

  // The status bar along the bottom; the copy button and its preview lie over it.
  StatusBar1 = new QStatusBar(surface_);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setAccessibleName(QStringLiteral("ステータスバー"));
  book_.place(StatusBar1, 0, 6945, 9345, kStatusBarHeight);
  setFace(c.button(Command1, "Command1", QStringLiteral("コピー（Subject/from/Data）"), 1920, 6960, 2895, 255), grey);
  c.box(Text6, "Text6", QStringLiteral("コピー内容"), 5160, 6960, 3735, 270);
  Text6->setReadOnly(true);
  textfit::tipWhenCut(Text6);

  lstLst = new QListWidget(surface_);
  lstLst->setObjectName(QStringLiteral("lstLst"));
  lstLst->setAccessibleName(QStringLiteral("作業用リスト"));
  book_.place(lstLst, 120, 3240, 1215, 450);

  // Every change of the body, by the user or by the program, marks the
  // current document modified.
  connect(rtfEd, &QPlainTextEdit::textChanged, this, [] { shared::DocumentModified = -1; });
  connect(Text2, &QLineEdit::textChanged, this, &TyakuForm::mirrorCount);
  connect(Command3, &QPushButton::clicked, this, &TyakuForm::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &TyakuForm::StartAddressRegistration);
  connect(Command5, &QPushButton::clicked, this, &TyakuForm::StartReply);
  connect(Command6, &QPushButton::clicked, this, &TyakuForm::Command6_Click);
}

void TyakuForm::buildMenus() {
  addBodyMenus(
      menuBar(), QStringLiteral("編集(&E)"),
      [this](QMenu* file) {
        mgenbun = addNamedItem(file, "mgenbun", QStringLiteral("原文を保存"));
        mmbox = addNamedItem(file, "mmbox", QStringLiteral("全メールを mbox で書き出し"));
        msent = addNamedItem(file, "msent", QStringLiteral("送信済みメール"));
        mtorikomi = addNamedItem(file, "mtorikomi", QStringLiteral("メールを取り込む"));
        connect(mtorikomi, &QAction::triggered, this, &TyakuForm::mtorikomi_Click);
      },
      [this](QMenu* edit) {
        mline2 = addNamedSeparator(edit, "mline2");
        mkensaku = addNamedItem(edit, "mkensaku", QStringLiteral("検索"));
        mtugikensaku = addNamedItem(edit, "mtugikensaku", QStringLiteral("次を検索"));
      });
  connect(mgenbun, &QAction::triggered, this, &TyakuForm::mgenbun_Click);
  connect(mmbox, &QAction::triggered, this, &TyakuForm::mmbox_Click);
  connect(msent, &QAction::triggered, this, &TyakuForm::msent_Click);
}

void TyakuForm::buildToolBar() {
  tools_.add("New", [this] { mnew_Click(); });
  tools_.add("Open", [this] { OpenTextIntoBody(); });
  tools_.add("Save", [this] { SaveBodyAs(); });
  tools_.add("Print", [this] { mprint_Click(); });
  tools_.add("Cut", [this] { mcut_Click(); });
  tools_.add("Copy", [this] { mcopy_Click(); });
  tools_.add("Paste", [this] { mpaste_Click(); });
  tools_.add("Bold", [this] { BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Bold); });
  tools_.add("Italic", [this] { BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Italic); });
  tools_.add("Underline", [this] { BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Underline); });
  book_.place(tbToolBar, 0, 0, kClientWidth, twips::fromPx(tbToolBar->sizeHint().height()));
  tbToolBar->lower();
}

// Load: runs once per creation of the window, shown or not.
void TyakuForm::Form_Load() {
  // The help box in view only while the main window shows explanations;
  // a check box in neither state leaves it where it is.
  if (shared::MainWindow.explanations) {
    const Qt::CheckState explanations = shared::MainWindow.explanations();
    if (explanations == Qt::Checked) book_.setTop(Text4, 3600);
    if (explanations == Qt::Unchecked) book_.setTop(Text4, -4000);
  }

  // The columns share the list's width as it is now, but for widths the
  // user gave them before.
  userColumns_ = viewer::readColumnWidths();
  fitColumns();

  // The headings drawn white on steel blue.
  HookListHeaders(MailListView);

  book_.setLeft(rtfEd, 20);
  book_.setTop(rtfEd, 3900);

  lstLst->hide();
  loadCurrentDocument();
  rtfEd->show();
}

void TyakuForm::loadCurrentDocument() {
  // Before any document has been named there is nothing to load; the fill
  // replaces the body in any case.
  const QString name = shared::CurrentDocumentName;
  while (!name.isEmpty()) {
    QFile f(name);
    if (f.open(QIODevice::ReadOnly)) {
      const QByteArray bytes = f.readAll();
      rtfEd->setPlainText(text::decodeText(bytes, text::detectEncoding(bytes)));
      break;
    }
    const MsgResult again = MsgBox(
        QStringLiteral(
            "文書「%1」を本文に読み込めません（%2）。\nOK でもう一度読み込み、キャンセルで読み込まずに続けます。")
            .arg(name, f.errorString()),
        MsgButtons::OkCancel, MsgIcon::Exclamation, kAppTitle + QStringLiteral("  Form_LoadError"));
    if (again != MsgResult::Ok) break;
  }
  shared::DocumentModified = 0;
}

void TyakuForm::alignBars() {
  // The bars keep to the edges of the client area, as docked bars do.
  const double w = twips::width(surface_);
  const double h = twips::height(surface_);
  book_.place(StatusBar1, 0, h - kStatusBarHeight, w, kStatusBarHeight);
  book_.setWidth(tbToolBar, w);
}

void TyakuForm::LayoutViewer() {
  const double W = book_.outerWidth(this);
  const double H = book_.outerHeight(this);
  Text6->show();
  Command2->show();
  book_.setWidth(MailListView, 0.99 * W);
  book_.setHeight(MailListView, 0.25 * H);
  const double listHeight = book_.height(MailListView);
  for (QLineEdit* b : {Text7, Text8, Text9}) book_.setTop(b, listHeight + 940);
  if (QFrame* band = Picture1.value(1)) book_.setWidth(band, W);
  book_.setWidth(rtfEd, 0.99 * W);
  book_.setTop(rtfEd, listHeight + 1300);
  book_.setWidth(Text7, 0.5 * W);
  book_.setWidth(Text8, 0.3 * W);
  book_.setWidth(Text9, 0.2 * W);
  // The header boxes in one row from the body's left edge.
  book_.setLeft(Text7, book_.left(rtfEd) - 15);
  book_.setLeft(Text8, book_.left(Text7) + book_.width(Text7));
  book_.setLeft(Text9, book_.left(Text8) + book_.width(Text8));
  // From where the copy button is before the next line moves it.
  book_.setLeft(Text6, book_.left(Command1) + 3380);
  book_.setTop(Text6, book_.top(StatusBar1) + 80);
  book_.setLeft(Command1, book_.left(StatusBar1) + 1880);
  book_.setTop(Command1, book_.top(StatusBar1) + 80);
  book_.setHeight(rtfEd, 0.62 * (H - book_.height(MailListView)));
  if (isMaximized()) {
    book_.setTop(Text6, H - 1000);
    book_.setTop(Command1, H - 980);
  }
  keepBoxesInside();
  fitHeaderBoxes();
  placeHelpBox();
  laidOut_ = true;
  fitColumns();
}

void TyakuForm::keepBoxesInside() {
  // The rules above measure from the outer size, which is wider and taller
  // than the client area: a box they carry past its edge ends inside, and
  // the body ends where the status bar begins.
  const double right = twips::width(surface_) - kEdgeRoom;
  for (QWidget* w : {static_cast<QWidget*>(MailListView), static_cast<QWidget*>(Text7), static_cast<QWidget*>(Text8),
                     static_cast<QWidget*>(Text9), static_cast<QWidget*>(rtfEd), static_cast<QWidget*>(Text6)}) {
    if (book_.left(w) + book_.width(w) > right) book_.setWidth(w, std::max(0.0, right - book_.left(w)));
  }
  const double bottom = book_.top(StatusBar1);
  if (book_.top(rtfEd) + book_.height(rtfEd) > bottom) book_.setHeight(rtfEd, std::max(0.0, bottom - book_.top(rtfEd)));
}

void TyakuForm::fitHeaderBoxes() {
  // The row's shares cut a typical sender and date at the size the window
  // opens at: they get what they need, and the subject gives it up, down
  // to a quarter of the row; narrower still, the three share the row.
  const double needFrom = twips::fromPx(textfit::lineWidthFor(Text8, kTypicalSender));
  const double needDate = twips::fromPx(textfit::lineWidthFor(Text9, kTypicalDate));
  double from = book_.width(Text8);
  double date = book_.width(Text9);
  if (from >= needFrom && date >= needDate) return;
  const double left = book_.left(Text7);
  const double row = twips::width(surface_) - kEdgeRoom - left;
  from = std::max(from, needFrom);
  date = std::max(date, needDate);
  double subject = row - from - date;
  if (subject < row / 4) {
    const double share = (row - row / 4) / (from + date);
    from *= share;
    date *= share;
    subject = row / 4;
  }
  book_.setWidth(Text7, subject);
  book_.setWidth(Text8, from);
  book_.setWidth(Text9, date);
  book_.setLeft(Text8, left + subject);
  book_.setLeft(Text9, left + subject + from);
}

void TyakuForm::placeHelpBox() {
  // In view, the help box lies over the list, never over the mail's lines;
  // it is shown only while the mouse is over a control it explains, and
  // the list is uncovered as soon as the mouse goes there.
  if (book_.top(Text4) < 0) return;
  const double top = book_.top(MailListView);
  // The list's last twips lie under the header boxes.
  const double height = std::min(book_.height(MailListView), book_.top(Text7) - top);
  book_.place(Text4, book_.left(MailListView), top, book_.width(MailListView), height);
}

void TyakuForm::fitColumns() {
  // Before the first layout: half, a quarter and a quarter of the list's
  // width inside its frame. Laid out, each column stands over its header
  // box. A width the user gave a column stays. The last column takes what
  // is left and gives up what a scroll bar takes, so the list never
  // scrolls sideways unless the user's widths ask for more.
  const int frame = MailListView->frameWidth();
  const int inner = MailListView->width() - 2 * frame;
  int subject = inner / 2;
  int from = inner / 4;
  if (laidOut_) {
    subject = Text7->geometry().right() + 1 - (MailListView->x() + frame);
    from = Text8->width();
  }
  if (userColumns_.subject) subject = twips::toPx(*userColumns_.subject);
  if (userColumns_.from) from = twips::toPx(*userColumns_.from);
  const QList<int> fit{inner, subject, from};
  if (fit == columnsFit_) return;
  columnsFit_ = fit;
  QHeaderView* header = MailListView->header();
  fittingColumns_ = true;
  header->resizeSection(MailListModel::SubjectColumn, subject);
  header->resizeSection(MailListModel::FromColumn, from);
  header->resizeSection(MailListModel::DateColumn, std::max(0, inner - subject - from));
  fittingColumns_ = false;
}

void TyakuForm::columnResized(int column) {
  // The last column only takes up what the others leave.
  if (fittingColumns_ || column == MailListModel::DateColumn) return;
  QHeaderView* header = MailListView->header();
  userColumns_.subject = twips::fromPx(header->sectionSize(MailListModel::SubjectColumn));
  userColumns_.from = twips::fromPx(header->sectionSize(MailListModel::FromColumn));
  columnsFit_.clear();
  columnsSave_->start();
}

void TyakuForm::saveColumnWidths() {
  columnsSave_->stop();
  if (!userColumns_.subject || !userColumns_.from) return;
  // Without the data folder the widths are kept only while the window is open.
  viewer::writeColumnWidths(*userColumns_.subject, *userColumns_.from);
}

int TyakuForm::selectedRow() const {
  const QModelIndexList rows = MailListView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TyakuForm::setCount(int rows) {
  const QString count = QString::number(rows);
  if (Text2->text() == count)
    mirrorCount(count);  // no change to mirror, but the main window may have been told otherwise
  else
    Text2->setText(count);
}

void TyakuForm::mirrorCount(const QString& count) {
  if (shared::MainWindow.setStoredCount) shared::MainWindow.setStoredCount(count);
}

void TyakuForm::showAllDeleted() {
  if (shared::MainWindow.setHelpText) shared::MainWindow.setHelpText(QStringLiteral("0"));
  setCount(0);
}

void TyakuForm::mend_Click() { close(); }

void TyakuForm::Form_QueryUnload() { unhookListHeaders(); }

void TyakuForm::unhookListHeaders() { UnhookListHeaders(MailListView); }

void TyakuForm::showMail(const QString& subject, const QString& from, const QString& date, const QString& body) {
  Text7->setText(subject);
  Text8->setText(from);
  Text9->setText(date);
  rtfEd->setPlainText(body);
}

void TyakuForm::closeEvent(QCloseEvent* event) {
  if (columnsSave_->isActive()) saveColumnWidths();
  Form_QueryUnload();
  QMainWindow::closeEvent(event);
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) mouseOver(watched);
  if (watched == surface_) {
    if (event->type() == QEvent::Resize) {
      alignBars();
      LayoutViewer();
    } else if (event->type() == QEvent::MouseMove) {
      // Only over the bare surface: a move over a control that passes the
      // event on still has that control under the mouse.
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      if (!surface_->childAt(at)) LayoutViewer();
    }
  } else if (watched == MailListView->viewport() && event->type() == QEvent::MouseButtonRelease) {
    // A click: the press has already chosen the row.
    const auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() == Qt::LeftButton && MailListView->viewport()->rect().contains(me->position().toPoint()))
      ShowSelectedMail();
  }
  return QMainWindow::eventFilter(watched, event);
}
