// The viewer window: its controls, the fill, a click, the layout rules, the
// count mirroring and the load steps.
#include "ViewerFixture.h"

#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/ListHeaders.h"
#include "platform/ui/Twips.h"
#include "support/CaptionFit.h"
#include "support/WindowRules.h"
#include "viewer/MailListModel.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>
#include <QStatusBar>
#include <cmath>

namespace {

// Twips figures kept by the window, and the pixels they must have become.
void expectTwips(const TyakuForm& v, const QWidget* w, double left, double top, double width, double height) {
  const TwipsBook& b = v.twipsGeometry();
  EXPECT_DOUBLE_EQ(b.left(w), left) << w->objectName().toStdString();
  EXPECT_DOUBLE_EQ(b.top(w), top) << w->objectName().toStdString();
  EXPECT_DOUBLE_EQ(b.width(w), width) << w->objectName().toStdString();
  EXPECT_DOUBLE_EQ(b.height(w), height) << w->objectName().toStdString();
  EXPECT_EQ(w->geometry(), QRect(twips::toPx(left), twips::toPx(top), twips::toPx(width), twips::toPx(height)))
      << w->objectName().toStdString();
}

// The pixels a line box shows its text in: inside its frame, its text
// margins and the two pixels it keeps clear on either side.
int textRoom(const QLineEdit* box) {
  QStyleOptionFrame opt;
  opt.initFrom(box);
  opt.rect = box->rect();
  opt.lineWidth = box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box) : 0;
  opt.midLineWidth = 0;
  opt.state |= QStyle::State_Sunken;
  const QRect r = box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box).marginsRemoved(box->textMargins());
  return r.width() - 2 * 2;
}

// True when `box` shows `text` whole, from its first character to its last.
::testing::AssertionResult showsWhole(const QLineEdit* box, const QString& text) {
  const int need = QFontMetrics(box->font()).horizontalAdvance(text);
  if (box->isVisible() && need <= textRoom(box)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << box->objectName().toStdString() << " shows " << textRoom(box)
                                       << " pixels of the " << need << " that \"" << text.toStdString() << "\" takes";
}

// The tooltip a hover over `at` in the list's rows shows; empty for none.
QString cellTip(TyakuForm& v, const QPoint& at) {
  QToolTip::hideText();
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000));
  QHelpEvent help(QEvent::ToolTip, at, v.MailListView->viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(v.MailListView->viewport(), &help);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

const QString kSender = QStringLiteral("山田太郎 <yamada@example.jp>");
const QString kDate = QStringLiteral("Mon, 07 Dec 2026 10:23:45 +0900");

QByteArray rawRecord(const QByteArray& subject, const QByteArray& body) {
  store::MailRecord r;
  r.setSubject(QString());
  r.setBody(QString());
  r.setFrom(QStringLiteral("x@example.jp"));
  r.setDate(QStringLiteral("today"));
  r.markWritten();
  QByteArray bytes = r.bytes();
  bytes.replace(store::MailRecord::kSubject.offset, subject.size(), subject);
  bytes.replace(store::MailRecord::kBody.offset, body.size(), body);
  return bytes;
}

}  // namespace

TEST_F(ViewerTest, NewUserSeesThreeMailsReadsOneDeletesOneThenAll) {
  storeMails(threeMails());
  TyakuForm& v = view();
  EXPECT_TRUE(v.isVisible());
  EXPECT_EQ(v.windowTitle(), QStringLiteral("着信履歴"));
  ASSERT_EQ(v.MailListView->model()->rowCount(), 3);
  // Under steel-blue headings.
  EXPECT_TRUE(listHeadersHooked(v.MailListView->header()));
  const QImage heads = v.MailListView->header()->viewport()->grab().toImage();
  EXPECT_EQ(heads.pixelColor(heads.width() / 3, heads.height() / 2).rgb() & 0xFFFFFF, 0x3A77A5u);
  EXPECT_EQ(v.Text7->text(), QStringLiteral("件名その3"));

  clickRow(v, 1);
  EXPECT_EQ(v.Text7->text(), QStringLiteral("件名その2"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("本文その2"));

  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_EQ(v.MailListView->model()->rowCount(), 2);
  EXPECT_EQ(main().Text4->text(), QStringLiteral("2"));

  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  EXPECT_EQ(v.MailListView->model()->rowCount(), 0);
  EXPECT_EQ(main().Text4->text(), QStringLiteral("0"));
  EXPECT_EQ(QFileInfo(mailPath()).size(), 0);
  EXPECT_EQ(boxes_.seen().size(), 2);
}

TEST_F(ViewerTest, ButtonsCaptionsFacesAndWhatTheLoadStepsMove) {
  main().Check1->setChecked(true);
  TyakuForm& v = *TyakuForm::instance();
  EXPECT_FALSE(v.isVisible());  // loaded, not shown

  const struct {
    QPushButton* b;
    const char* name;
    QString caption;
    QColor face;
  } buttons[] = {
      {v.Command1, "Command1", QStringLiteral("コピー（Subject/from/Data）"), QColor(192, 192, 192)},
      {v.Command2, "Command2", QStringLiteral("TextQuickSave"), QColor(192, 192, 192)},
      {v.Command3, "Command3", QStringLiteral("    一件削除"), QColor(255, 128, 255)},
      {v.Command4, "Command4", QStringLiteral("    アドレス帳登録"), QColor(255, 192, 128)},
      {v.Command5, "Command5", QStringLiteral("   返事を書く"), QColor(128, 255, 255)},
      {v.Command6, "Command6", QStringLiteral("   全件削除"), QColor(255, 0, 0)},
  };
  for (const auto& b : buttons) {
    EXPECT_EQ(b.b->objectName(), QLatin1String(b.name));
    EXPECT_EQ(b.b->text(), b.caption);
    EXPECT_EQ(b.b->palette().color(QPalette::Button), b.face) << b.name;
  }
  for (QWidget* w : std::initializer_list<QWidget*>{v.Text1, v.Text2, v.Text4, v.Text5, v.Text6, v.Text7, v.Text8,
                                                    v.Text9, v.rtfEd, v.MailListView})
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();

  // The columns share the list's starting width 9375 inside its frame: half,
  // a quarter, a quarter.
  const int inner = twips::toPx(9375) - 2 * v.MailListView->frameWidth();
  EXPECT_EQ(v.MailListView->header()->sectionSize(0), inner / 2);
  EXPECT_EQ(v.MailListView->header()->sectionSize(1), inner / 4);

  // Starting places, and what the load steps moved: the help box in view
  // (説明表示 is on) and the body box to 20, 3900.
  expectTwips(v, v.Command3, 120, 520, 1335, 375);
  expectTwips(v, v.Text5, 9720, 480, 735, 375);
  expectTwips(v, v.MailListView, 0, 960, 9375, 1815);
  expectTwips(v, v.Text4, 1320, 3600, 5535, 1935);
  expectTwips(v, v.rtfEd, 20, 3900, 9375, 3735);
  EXPECT_FALSE(v.lstLst->isVisibleTo(&v));
}

TEST_F(ViewerTest, HelpBoxOutOfViewWithoutExplanations) {
  main().Check1->setChecked(false);
  TyakuForm& v = *TyakuForm::instance();
  EXPECT_DOUBLE_EQ(v.twipsGeometry().top(v.Text4), -4000);
}

TEST_F(ViewerTest, FillShowsTheLastMailAndLeavesItsBodyOnTheClipboard) {
  storeMails(threeMails());
  shared::ListSource = 0;
  shared::DocumentModified = 0;
  TyakuForm& v = view();
  EXPECT_EQ(shared::ListSource, 1);
  EXPECT_EQ(shared::DocumentModified, -1);
  EXPECT_EQ(v.MailListView->palette().color(QPalette::Base), QColor(210, 250, 250));
  EXPECT_EQ(v.Text2->text(), QStringLiteral("3"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("3"));
  // Rows keep the fields as stored, cut at NUL only.
  EXPECT_EQ(cell(v, 0, 0), QStringLiteral("  件名その1 ").leftJustified(100 - 4, u' '));
  EXPECT_EQ(cell(v, 0, 1).trimmed(), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(cell(v, 2, 2).trimmed(), QStringLiteral("Wed, 3 Apr 2024"));
  EXPECT_EQ(v.Text7->text(), QStringLiteral("件名その3"));
  EXPECT_EQ(v.Text8->text(), QStringLiteral("saburo@example.jp"));
  EXPECT_EQ(v.Text9->text(), QStringLiteral("Wed, 3 Apr 2024"));
  // A box narrower than its value shows the value's start.
  EXPECT_EQ(v.Text9->cursorPosition(), 0);
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("本文その3"));
  EXPECT_EQ(clipboard(), QStringLiteral("本文その3"));
  EXPECT_TRUE(v.Text5->text().isEmpty());

  clickRow(v, 0);
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));
  EXPECT_EQ(v.Text7->text(), QStringLiteral("件名その1"));
  EXPECT_EQ(v.Text8->text(), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("本文その1です。"));
  EXPECT_EQ(clipboard(), QStringLiteral("本文その1です。"));
  EXPECT_EQ(store::ReceivedMailBuffer().subject().trimmed(), QStringLiteral("件名その1"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerTest, NulBadBytesAndAPartialRecordShowWhatCanBeShown) {
  QByteArray file = rawRecord(QByteArray("abc\0def", 7), QByteArray("body one"));
  // Bytes that are no CP932: a lone lead byte before a space, 0xFF, 0x80.
  file += rawRecord(QByteArray("\x82 bad\xFF\x80", 7), QByteArray("\x81\x20\xFF", 3));
  file += QByteArray(1000, 'x');  // an incomplete third record
  home_.write(paths::kReceivedMailFile, file);

  TyakuForm& v = view();
  ASSERT_EQ(v.MailListView->model()->rowCount(), 2);
  EXPECT_EQ(v.Text2->text(), QStringLiteral("2"));
  // The list stops at the NUL; the subject box has the whole trimmed field.
  EXPECT_EQ(cell(v, 0, 0), QStringLiteral("abc"));
  clickRow(v, 0);
  EXPECT_EQ(v.Text7->text(), QString::fromLatin1("abc\0def", 7));
  // Bad bytes become replacement characters, the rest is kept.
  EXPECT_TRUE(cell(v, 1, 0).contains(QChar(0xFFFD)));
  EXPECT_TRUE(cell(v, 1, 0).contains(QStringLiteral(" bad")));
  clickRow(v, 1);
  EXPECT_TRUE(v.rtfEd->toPlainText().contains(QChar(0xFFFD)));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerTest, EmptyFileGivesNoRowsAndAClickSaysThereIsNothing) {
  TyakuForm& pre = *TyakuForm::instance();
  pre.Text7->setText(QStringLiteral("earlier"));
  pre.rtfEd->setPlainText(QStringLiteral("earlier body"));
  TyakuForm& v = view();
  EXPECT_EQ(v.MailListView->model()->rowCount(), 0);
  EXPECT_EQ(v.Text2->text(), QStringLiteral("0"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("0"));
  EXPECT_EQ(v.Text7->text(), QStringLiteral("earlier"));
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());

  QTest::mouseClick(v.MailListView->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(boxes_.texts(), QStringList{QStringLiteral("選択するデータがありません。")});
  EXPECT_EQ(boxes_.seen().value(0).title, QStringLiteral("灯火亭"));
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));
  EXPECT_EQ(v.Text7->text(), QStringLiteral("earlier"));
}

TEST_F(ViewerTest, MissingDataFolderSaysHowToLayItOutAndWritesNothing) {
  ASSERT_TRUE(QDir(home_.file(paths::kDataFolder)).removeRecursively());
  TyakuForm& v = view();
  ASSERT_EQ(boxes_.seen().size(), 1);
  const QString text = boxes_.seen()[0].text;
  EXPECT_TRUE(text.contains(QStringLiteral("★MAilData"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("tomoshibi --init-home"))) << text.toStdString();
  EXPECT_FALSE(QFileInfo::exists(home_.file(paths::kDataFolder)));
  EXPECT_EQ(v.Text2->text(), QStringLiteral("0"));
}

TEST_F(ViewerTest, LayoutRulesAt10000By8000) {
  TyakuForm& v = view();
  v.resizeOuterTwips(10000, 8000);
  pump();
  ASSERT_EQ(v.frameGeometry().size(), QSize(twips::toPx(10000), twips::toPx(8000)));
  expectTwips(v, v.MailListView, 0, 960, 9900, 2000);
  // Header boxes at 2000 + 940 in one row from the body's left edge (20) - 15,
  // the sender and the date box at least their shares 0.3 and 0.2 of the
  // width (more where a typical sender or date needs it, see below).
  {
    const TwipsBook& b = v.twipsGeometry();
    for (QLineEdit* box : {v.Text7, v.Text8, v.Text9}) {
      EXPECT_DOUBLE_EQ(b.top(box), 2940);
      EXPECT_DOUBLE_EQ(b.height(box), 375);
    }
    EXPECT_DOUBLE_EQ(b.left(v.Text7), 5);
    EXPECT_DOUBLE_EQ(b.left(v.Text8), 5 + b.width(v.Text7));
    EXPECT_DOUBLE_EQ(b.left(v.Text9), b.left(v.Text8) + b.width(v.Text8));
    EXPECT_GE(b.width(v.Text8), 3000);
    EXPECT_GE(b.width(v.Text9), 2000);
    // The date box ends inside the window, its border in view.
    EXPECT_DOUBLE_EQ(b.left(v.Text9) + b.width(v.Text9), twips::fromPx(v.surface()->width()) - 15);
  }
  // Body: top 2000 + 1300, height 0.62 × (8000 - 2000).
  expectTwips(v, v.rtfEd, 20, 3300, 9900, 3720);
  EXPECT_DOUBLE_EQ(v.twipsGeometry().width(v.Picture1.value(1)), 10000);
  // The copy button and its preview ride on the status bar.
  const TwipsBook& b = v.twipsGeometry();
  EXPECT_DOUBLE_EQ(b.left(v.Command1), b.left(v.StatusBar1) + 1880);
  EXPECT_DOUBLE_EQ(b.top(v.Command1), b.top(v.StatusBar1) + 80);
  EXPECT_DOUBLE_EQ(b.top(v.Text6), b.top(v.StatusBar1) + 80);
  EXPECT_DOUBLE_EQ(b.left(v.Text6), b.left(v.Command1) + 3380);
  EXPECT_EQ(v.StatusBar1->geometry().bottom(), v.surface()->height() - 1);
}

TEST_F(ViewerTest, MouseOverTheBareSurfaceRerunsTheLayout) {
  TyakuForm& v = view();
  const double listHeight = v.twipsGeometry().height(v.MailListView);
  v.MailListView->resize(v.MailListView->width(), 30);

  // Over a control: nothing moves.
  QTest::mouseMove(v.Label4, QPoint(2, 2));
  pump();
  EXPECT_EQ(v.MailListView->height(), 30);

  QPoint bare(-1, -1);
  for (int y = 0; y < v.surface()->height() && bare.x() < 0; y += 3)
    for (int x = 0; x < v.surface()->width(); x += 3)
      if (!v.surface()->childAt(x, y)) {
        bare = QPoint(x, y);
        break;
      }
  ASSERT_GE(bare.x(), 0);
  QTest::mouseMove(v.surface(), bare);
  pump();
  EXPECT_DOUBLE_EQ(v.twipsGeometry().height(v.MailListView), listHeight);
  EXPECT_EQ(v.MailListView->height(), twips::toPx(listHeight));
}

TEST_F(ViewerTest, CountChangesReachTheMainWindowAtOnce) {
  TyakuForm& v = *TyakuForm::instance();
  v.Text2->setText(QStringLiteral("12"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("12"));
  v.Text2->setText(QStringLiteral("7"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("7"));
  // A fill that finds the count unchanged still puts it right in the main window.
  storeMails({threeMails()[0]});
  v.Text2->setText(QStringLiteral("1"));
  main().Text4->setText(QStringLiteral("5"));
  view();
  EXPECT_EQ(main().Text4->text(), QStringLiteral("1"));
}

TEST_F(ViewerTest, LoadReadsTheCurrentDocumentAndEveryBodyChangeMarksIt) {
  const QString doc = home_.file(QStringLiteral("新規作成.TXT"));
  home_.write(QStringLiteral("新規作成.TXT"), text::toCp932(QStringLiteral("下書きの文")));
  shared::CurrentDocumentName = doc;
  shared::DocumentModified = -1;
  TyakuForm& v = *TyakuForm::instance();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("下書きの文"));
  EXPECT_EQ(shared::DocumentModified, 0);
  v.rtfEd->insertPlainText(QStringLiteral("あ"));
  EXPECT_EQ(shared::DocumentModified, -1);
  delete &v;

  // A document that cannot be read: OK tries again, Cancel goes on without it.
  shared::CurrentDocumentName = home_.file(QStringLiteral("ない.TXT"));
  boxes_.answer(QMessageBox::Ok);
  boxes_.answer(QMessageBox::Cancel);
  TyakuForm& again = *TyakuForm::instance();
  shared::CurrentDocumentName.clear();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("灯火亭  Form_LoadError"));
  EXPECT_EQ(boxes_.seen()[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(again.rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(shared::DocumentModified, 0);
}

TEST_F(ViewerTest, ClosingUnhooksAndTheNextViewLoadsAgain) {
  TyakuForm& v = view();
  QHeaderView* header = v.MailListView->header();
  v.mend->trigger();  // "終了"
  EXPECT_FALSE(listHeadersHooked(header));
  pump();
  EXPECT_EQ(TyakuForm::existing(), nullptr);
  TyakuForm& next = view();
  EXPECT_TRUE(listHeadersHooked(next.MailListView->header()));
  EXPECT_EQ(next.windowTitle(), QStringLiteral("着信履歴"));
}

TEST_F(ViewerTest, ScreenReadersHearTheValuesAndNoInternalNameShows) {
  storeMails(threeMails());
  TyakuForm& v = view();
  clickRow(v, 1);
  EXPECT_TRUE(keepsScreenReaderRules(&v));
  EXPECT_EQ(spokenName(v.Text2), QStringLiteral("件数"));
  EXPECT_EQ(spokenValue(v.Text2), QStringLiteral("3"));
  EXPECT_EQ(spokenName(v.Text7), QStringLiteral("件名"));
  EXPECT_EQ(spokenValue(v.Text7), QStringLiteral("件名その2"));
  EXPECT_EQ(spokenName(v.Label4), QStringLiteral("件数"));
  // The selection marker is state: never shown, however wide the window.
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));
  v.resizeOuterTwips(14000, 9000);
  pump();
  EXPECT_FALSE(v.Text5->isVisibleTo(&v));
  EXPECT_TRUE(keepsScreenReaderRules(&v));
}

TEST_F(ViewerTest, EveryBoxStaysInsideTheClientAreaAndTheColumnsFollowTheBoxes) {
  storeMails(threeMails());
  TyakuForm& v = view();
  auto check = [&](const char* size) {
    SCOPED_TRACE(size);
    pump();
    const QRect client = v.surface()->rect();
    for (QWidget* w : std::initializer_list<QWidget*>{v.MailListView, v.Text7, v.Text8, v.Text9, v.rtfEd, v.Text6,
                                                      v.Text1, v.Text2}) {
      // The right border in view, not on the window's edge.
      EXPECT_TRUE(client.adjusted(0, 0, -1, 0).contains(w->geometry())) << w->objectName().toStdString();
    }
    EXPECT_LE(v.rtfEd->geometry().bottom(), v.StatusBar1->geometry().top());
    // Each column over its header box, the last taking what the list shows
    // beyond the first two, with no sideways scrolling.
    QHeaderView* h = v.MailListView->header();
    const int inner = v.MailListView->viewport()->width();
    EXPECT_EQ(v.MailListView->viewport()->mapTo(v.surface(), QPoint(h->sectionSize(0), 0)).x(),
              v.Text7->geometry().right() + 1);
    EXPECT_EQ(h->sectionSize(1), v.Text8->width());
    EXPECT_EQ(h->length(), inner);
    // (once the list has settled its scroll bars)
    EXPECT_TRUE(QTest::qWaitFor([&] { return !v.MailListView->horizontalScrollBar()->isVisible(); }, 1000));
  };
  check("as opened");
  v.resizeOuterTwips(14000, 9000);
  check("wider");
  v.resizeOuterTwips(9600, 5000);
  check("shorter");
  // Columns the user set stay.
  v.MailListView->header()->resizeSection(0, 100);
  QTest::mouseMove(v.surface(), QPoint(v.surface()->width() - 2, v.surface()->height() / 2 + 40));
  pump();
  EXPECT_EQ(v.MailListView->header()->sectionSize(0), 100);
}

TEST_F(ViewerTest, AtItsDefaultSizeTheWindowShowsWhoSentAMailAndWhenWhole) {
  storeMails({{QStringLiteral("打ち合わせの日程について"), kSender, kDate, QStringLiteral("本文")}});
  TyakuForm& v = view();
  pump();
  ASSERT_EQ(v.frameGeometry().width(), twips::toPx(9375) + v.frameGeometry().width() - v.width());
  EXPECT_TRUE(showsWhole(v.Text8, kSender));
  EXPECT_TRUE(showsWhole(v.Text9, kDate));
  EXPECT_TRUE(showsEveryCaptionWhole(&v));
  // The boxes stay in one row from the body's left edge, inside the window.
  EXPECT_EQ(v.Text8->x(), v.Text7->geometry().right() + 1);
  EXPECT_EQ(v.Text9->x(), v.Text8->geometry().right() + 1);
  EXPECT_LT(v.Text9->geometry().right(), v.surface()->width() - 1);
  EXPECT_GE(v.Text7->width(), v.surface()->width() / 4);
  // So do the list's columns above them: nothing there ends in "…".
  QHeaderView* h = v.MailListView->header();
  const QRect row = v.MailListView->visualRect(v.mailList->index(0, 0));
  EXPECT_EQ(cellTip(v, QPoint(h->sectionViewportPosition(1) + 4, row.center().y())), QString());
  EXPECT_EQ(cellTip(v, QPoint(h->sectionViewportPosition(2) + 4, row.center().y())), QString());
  // Wide enough, the boxes keep the shares they always had.
  v.resizeOuterTwips(20000, 8000);
  pump();
  const double W = v.twipsGeometry().outerWidth(&v);
  EXPECT_DOUBLE_EQ(v.twipsGeometry().width(v.Text7), 0.5 * W);
  EXPECT_DOUBLE_EQ(v.twipsGeometry().width(v.Text8), 0.3 * W);
}

TEST_F(ViewerTest, ACutTextShowsWholeInItsTooltip) {
  const QString subject = QStringLiteral("【重要】来年度の予算案と人員計画の見直しについて（第三回打ち合わせの議事録を添付します）");
  const QString sender = QStringLiteral("株式会社とても長い名前の商事 営業本部 <eigyo@long-company-name.example.co.jp>");
  storeMails({{subject, sender, kDate, QStringLiteral("本文")}});
  TyakuForm& v = view();
  pump();
  EXPECT_EQ(v.Text7->toolTip(), subject);
  EXPECT_EQ(v.Text8->toolTip(), sender);
  EXPECT_EQ(v.Text9->toolTip(), QString());  // shown whole: nothing to add
  const QRect row = v.MailListView->visualRect(v.mailList->index(0, 0));
  QHeaderView* h = v.MailListView->header();
  EXPECT_EQ(cellTip(v, QPoint(h->sectionViewportPosition(0) + 4, row.center().y())), subject);
  EXPECT_EQ(cellTip(v, QPoint(h->sectionViewportPosition(1) + 4, row.center().y())), sender);
  EXPECT_EQ(cellTip(v, QPoint(h->sectionViewportPosition(2) + 4, row.center().y())), QString());
  // Wide enough for the whole subject, its box needs no tooltip any more.
  v.resizeOuterTwips(30000, 8000);
  pump();
  EXPECT_EQ(v.Text7->toolTip(), QString());
}

TEST_F(ViewerTest, ColumnWidthsTheUserSetsAreKeptInAFileOfTheProgramsOwn) {
  storeMails(threeMails());
  const QByteArray state = "[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\n";
  home_.write(paths::kStateFile, state);
  TyakuForm& v = view();
  pump(600);
  const QString file = home_.file(QStringLiteral("★MailData/tomoshibi.ini"));
  EXPECT_FALSE(QFileInfo::exists(file));  // nothing to keep until the user drags
  QHeaderView* h = v.MailListView->header();
  // The user drags the border between "From" and "Date" to the right.
  const int border = h->sectionViewportPosition(1) + h->sectionSize(1) - 1;
  const int from = h->sectionSize(1);
  QTest::mousePress(h->viewport(), Qt::LeftButton, {}, QPoint(border, h->height() / 2));
  QTest::mouseMove(h->viewport(), QPoint(border + 30, h->height() / 2));
  QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, QPoint(border + 30, h->height() / 2));
  ASSERT_EQ(h->sectionSize(1), from + 30);
  const int subject = h->sectionSize(0);
  pump(800);
  EXPECT_TRUE(QFileInfo::exists(file));
  EXPECT_EQ(home_.read(paths::kStateFile), state);  // ini.ini keeps its two keys only

  // A narrower window keeps them; so does the next opening.
  v.resizeOuterTwips(9000, 7000);
  pump();
  EXPECT_EQ(h->sectionSize(1), from + 30);
  v.mend->trigger();
  pump();
  TyakuForm& again = view();
  pump();
  EXPECT_NEAR(again.MailListView->header()->sectionSize(0), subject, 1);
  EXPECT_NEAR(again.MailListView->header()->sectionSize(1), from + 30, 1);
  again.mend->trigger();
  pump();

  // Widths that make no sense are passed over: the columns follow the boxes.
  home_.write(QStringLiteral("★MailData/tomoshibi.ini"), "[MailListView]\r\nSubjectWidth=abc\r\nFromWidth=-30\r\n");
  TyakuForm& fresh = view();
  pump();
  EXPECT_EQ(fresh.MailListView->header()->sectionSize(1), fresh.Text8->width());
}

TEST_F(ViewerTest, TheHelpBoxNeverCoversTheMailBeingRead) {
  main().Check1->setChecked(true);
  storeMails(threeMails());
  TyakuForm& v = view();
  pump();
  for (QWidget* over : std::initializer_list<QWidget*>{v.Command3, v.Command1, v.Text1}) {
    SCOPED_TRACE(over->objectName().toStdString());
    QTest::mouseMove(over, over->rect().center());
    pump();
    ASSERT_TRUE(v.Text4->isVisible());
    EXPECT_FALSE(v.Text4->geometry().intersects(v.rtfEd->geometry()));
    EXPECT_FALSE(v.Text4->geometry().intersects(v.Text7->geometry()));
    EXPECT_TRUE(v.surface()->rect().contains(v.Text4->geometry()));
  }
  // Lying over the list, it gives way as soon as the mouse goes there.
  QTest::mouseMove(v.MailListView->viewport(), v.MailListView->viewport()->rect().center());
  pump();
  EXPECT_FALSE(v.Text4->isVisible());
}
