// The mail check as the user runs it from the main window, against a mailbox
// in memory: what is stored, what is deleted on the server, what the user
// is told, and the failures that must lose nothing and store nothing twice.
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "reception/BatchStore.h"
#include "reception/IdentityLedger.h"
#include "settings/IdPassForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/CheckMail.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/CheckLock.h"
#include "store/received/ReceivedUids.h"
#include "support/FakePop3.h"
#include "support/Gui.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QString kAttachmentLine = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");

QByteArray textMail(const QString& subject, const QString& body) {
  return "From: =?UTF-8?B?" + QStringLiteral("差出人").toUtf8().toBase64() + "?= <from@example.jp>\r\n"
         "Subject: =?UTF-8?B?" + subject.toUtf8().toBase64() + "?=\r\n"
         "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n"
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
         body.toUtf8() + "\r\n";
}

QByteArray mailWithFile(const QString& subject, const QString& body, const QByteArray& fileName) {
  return "From: from@example.jp\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64() + "?=\r\n"
         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
         "--XX\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + body.toUtf8() + "\r\n"
         "--XX\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" + QByteArray("file contents").toBase64() + "\r\n--XX--\r\n";
}

class CheckMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    home_.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    box_ = std::make_shared<FakeMailbox>();
    fake_ = FakeMailbox::install(box_);
    main_ = std::make_unique<MainForm>();
    pump();
    events_ = std::make_unique<QSignalSpy>(main_->mkakunin, &QAction::triggered);
    // The status lines a check ends with; the progress shown meanwhile is another matter.
    QObject::connect(main_->Text3, &QLineEdit::textChanged, [this](const QString& t) {
      if (!t.startsWith(QStringLiteral("受信中"))) statuses_ << t;
    });
  }
  void TearDown() override {
    delete TyakuForm::existing();
    if (IdPassForm* i = IdPassForm::existing()) i->close();
    events_.reset();
    main_.reset();
    pump();
  }

  // "メール受信", as the user presses it.
  void check() {
    statuses_.clear();
    main_->Command4->click();
    pump();
  }
  QString recordFile() const { return paths::resolve(paths::kReceivedMailFile); }
  int records() const { return int(QFileInfo(recordFile()).size() / store::MailRecord::kLength); }
  store::MailRecord record(int n) const {
    store::RecordFile f(recordFile(), store::MailRecord::kLength);
    QByteArray raw;
    EXPECT_TRUE(f.open());
    EXPECT_EQ(f.read(n, raw), store::ReadResult::Ok);
    return store::MailRecord(raw);
  }
  QStringList remainingUids() const {
    QStringList u;
    for (const FakeMailbox::Message& m : box_->messages) u << QString::fromLatin1(m.uid);
    return u;
  }

  TempHome home_;
  MsgBoxAnswerer boxes_;
  std::shared_ptr<FakeMailbox> box_;
  std::unique_ptr<FakeMailbox::Installed> fake_;
  std::unique_ptr<MainForm> main_;
  std::unique_ptr<QSignalSpy> events_;
  QStringList statuses_;
};

}  // namespace

TEST_F(CheckMailTest, FirstOfTwoWithAttachmentStoresBothInOrder) {
  box_->add("a", mailWithFile(QStringLiteral("一通目"), QStringLiteral("添付あり"), "report.pdf"));
  box_->add("b", textMail(QStringLiteral("二通目"), QStringLiteral("See the Attachment section.")));
  check();

  ASSERT_EQ(records(), 2);
  EXPECT_EQ(text::trimSpaces(record(1).subject()), QStringLiteral("一通目"));
  EXPECT_TRUE(text::trimSpaces(record(1).body()).endsWith(QStringLiteral("添付あり\r\n") + kAttachmentLine));
  EXPECT_EQ(text::trimSpaces(record(2).subject()), QStringLiteral("二通目"));
  EXPECT_EQ(text::trimSpaces(record(2).from()), QStringLiteral("差出人 <from@example.jp>"));
  EXPECT_EQ(text::trimSpaces(record(2).date()), QStringLiteral("Mon, 1 Apr 2024 10:00:00 +0900"));
  // "Attachment" with a capital A is not the word.
  EXPECT_EQ(text::trimSpaces(record(2).body()), QStringLiteral("See the Attachment section."));
  EXPECT_EQ(record(2).liveFlag(), 1);
  EXPECT_EQ(shared::CurrentRecordNumber, 2);

  EXPECT_FALSE(statuses_.contains(QStringLiteral("添付ファイルメール。")));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("2"));
  EXPECT_EQ(main_->Text1->toPlainText(), QStringLiteral("メールのチェックをしています。"));
  EXPECT_EQ(events_->count(), 1);
  EXPECT_TRUE(boxes_.seen().isEmpty());

  EXPECT_TRUE(box_->messages.isEmpty());
  EXPECT_EQ(box_->commits, 1);
  EXPECT_TRUE(QFileInfo::exists(home_.file(QStringLiteral("添付フォルダ/report.pdf"))));
  EXPECT_FALSE(QFileInfo::exists(home_.file(QStringLiteral("添付フォルダ/0.txt"))));
  // The viewer's boxes end on the last mail; the viewer was not shown.
  TyakuForm* viewer = TyakuForm::existing();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->Text7->text(), QStringLiteral("二通目"));
  EXPECT_FALSE(viewer->isVisible());
}

TEST_F(CheckMailTest, SecondOfTwoWithAttachmentRunsTheEventTwice) {
  box_->add("a", textMail(QStringLiteral("一通目"), QStringLiteral("本文")));
  box_->add("b", mailWithFile(QStringLiteral("二通目"), QStringLiteral("添付あり"), "data.bin"));
  check();
  ASSERT_EQ(records(), 2);
  EXPECT_FALSE(text::trimSpaces(record(1).body()).contains(QStringLiteral("♪♪♪")));
  EXPECT_TRUE(text::trimSpaces(record(2).body()).endsWith(kAttachmentLine));
  EXPECT_EQ(statuses_, (QStringList{QStringLiteral("添付ファイルメール。"), QStringLiteral("新着メール有り。")}));
  EXPECT_EQ(events_->count(), 2);
}

TEST_F(CheckMailTest, EmptyIdOrPasswordOpensTheAccountDialog) {
  ASSERT_TRUE(WriteAccountFile(QString(), QString(), true));
  box_->add("a", textMail(QStringLiteral("件名"), QStringLiteral("本文")));
  check();
  ASSERT_NE(IdPassForm::existing(), nullptr);
  EXPECT_TRUE(IdPassForm::existing()->isVisible());
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール無し。"));
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("0"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
  for (const QByteArray& c : box_->commands) EXPECT_FALSE(c.startsWith("USER") || c.startsWith("RETR"));
  EXPECT_EQ(records(), 0);
}

TEST_F(CheckMailTest, AMailTheServerRefusesDoesNotHoldUpTheOthers) {
  for (const char* u : {"a", "b", "c"}) box_->add(u, textMail(QString::fromLatin1(u), QStringLiteral("本文")));
  box_->refuseRetr = {2};
  check();
  ASSERT_EQ(records(), 2);
  EXPECT_EQ(text::trimSpaces(record(1).subject()), QStringLiteral("a"));
  EXPECT_EQ(text::trimSpaces(record(2).subject()), QStringLiteral("c"));
  // One box at the end, saying what was left and why.
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("エラー"));
  EXPECT_TRUE(boxes_.seen()[0].text.startsWith(QStringLiteral("1 通のメールを受信できませんでした。")));
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("2 番のメール: サーバーが渡しません（-ERR no such message）")));
  EXPECT_EQ(remainingUids(), QStringList{QStringLiteral("b")});
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("2"));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));

  // Once the server hands it over, it comes, and only it.
  box_->refuseRetr.clear();
  check();
  ASSERT_EQ(records(), 3);
  EXPECT_EQ(text::trimSpaces(record(3).subject()), QStringLiteral("b"));
  EXPECT_TRUE(box_->messages.isEmpty());
}

TEST_F(CheckMailTest, AStoreFailureLeavesTheMailOnTheServer) {
  box_->add("a", textMail(QStringLiteral("件名"), QStringLiteral("本文")));
  box_->add("b", textMail(QStringLiteral("件名2"), QStringLiteral("本文2")));

  // A received-mail file already holding 32767 records.
  {
    QFile f(recordFile());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(qint64(store::kMaxRecords) * store::MailRecord::kLength));
  }
  check();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("32767")));
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("サーバーに残して")));
  EXPECT_EQ(records(), store::kMaxRecords);
  EXPECT_EQ(box_->messages.size(), 2);

  // A received-mail file that cannot be written (here: a folder in its place).
  ASSERT_TRUE(QFile::remove(recordFile()));
  ASSERT_TRUE(QDir().mkdir(recordFile()));
  check();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("保存できません")));
  EXPECT_EQ(box_->messages.size(), 2);
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("0"));
}

TEST_F(CheckMailTest, AnAttachmentThatCannotBeWrittenKeepsTheMailOnTheServer) {
  box_->add("a", mailWithFile(QStringLiteral("件名"), QStringLiteral("本文"), "x.pdf"));
  ASSERT_TRUE(QDir(paths::resolve(paths::kAttachFolder)).removeRecursively());
  box_->add("b", textMail(QStringLiteral("添付なし"), QStringLiteral("本文")));
  check();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("エラー"));
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("1 番のメール: 添付ファイルをオープンできません")));
  // The other mail is not held up behind it.
  ASSERT_EQ(records(), 1);
  EXPECT_EQ(text::trimSpaces(record(1).subject()), QStringLiteral("添付なし"));
  EXPECT_EQ(remainingUids(), QStringList{QStringLiteral("a")});
}

TEST_F(CheckMailTest, ADropBeforeQuitDoesNotStoreAMailTwice) {
  // Another account's IDs share the file and must survive.
  const QString uidFile = received::receivedUidsPath();
  home_.write(QStringLiteral("★MAilData/received-uids.txt"), "other%40elsewhere\tzzz\n");
  box_->add("a", textMail(QStringLiteral("一"), QStringLiteral("本文")));
  box_->add("b", textMail(QStringLiteral("二"), QStringLiteral("本文")));
  box_->breakAtQuit = true;
  check();
  EXPECT_EQ(records(), 2);
  EXPECT_EQ(box_->messages.size(), 2);  // the server undid the deletions
  EXPECT_EQ(box_->commits, 0);

  box_->breakAtQuit = false;
  box_->add("c", textMail(QStringLiteral("三"), QStringLiteral("本文")));
  check();
  ASSERT_EQ(records(), 3);
  EXPECT_EQ(text::trimSpaces(record(3).subject()), QStringLiteral("三"));
  EXPECT_TRUE(box_->messages.isEmpty());
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("1"));

  // The server no longer lists them: forgotten; the other account's stay.
  check();
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール無し。"));
  received::ReceivedUidList mine(uidFile, reception::mailboxKey(QStringLiteral("tomo"), QStringLiteral("pop.example:110")));
  ASSERT_TRUE(mine.load());
  EXPECT_EQ(mine.size(), 0);
  received::ReceivedUidList other(uidFile, QStringLiteral("other@elsewhere"));
  ASSERT_TRUE(other.load());
  EXPECT_TRUE(other.contains("zzz"));
}

TEST_F(CheckMailTest, WithoutUidlTheHeaderDigestKeepsAMailFromComingTwice) {
  box_->uidl = false;
  box_->add("a", textMail(QStringLiteral("一"), QStringLiteral("本文")));
  box_->breakAtQuit = true;
  check();
  box_->breakAtQuit = false;
  check();
  EXPECT_EQ(records(), 1);
  EXPECT_TRUE(box_->messages.isEmpty());
}

TEST_F(CheckMailTest, TheWindowsKeepPaintingButTakeNoInputDuringACheck) {
  // A slow server: the check takes about a second.
  for (int i = 1; i <= 8; ++i) box_->add("u" + QByteArray::number(i), textMail(QStringLiteral("件名%1").arg(i), u"本文"_qs));
  box_->pipelining = false;
  box_->delayMs = 60;
  QStringList progress;
  int clicksTried = 0;
  QObject::connect(main_->Text3, &QLineEdit::textChanged, [&](const QString& t) {
    if (!t.startsWith(QStringLiteral("受信中"))) return;
    progress << t;
    if (clicksTried++ == 0) {
      // The user clicks "メールを見る" and presses Enter meanwhile.
      QTest::mouseClick(main_->Command6, Qt::LeftButton);
      QTest::keyClick(main_->Command4, Qt::Key_Space);
    }
  });
  int ticks = 0;
  QTimer clock;
  QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
  clock.start(20);
  QElapsedTimer t;
  t.start();
  main_->Command4->click();
  const double seconds = t.elapsed() / 1000.0;
  clock.stop();

  ASSERT_EQ(records(), 8);
  // Events went on (the timer fired), at most ten progress lines a second,
  // "受信中 n/8件" with the bytes.
  EXPECT_GT(ticks, 5);
  ASSERT_FALSE(progress.isEmpty());
  EXPECT_LE(progress.size(), 10 * seconds + 2);
  EXPECT_TRUE(progress.last().contains(QStringLiteral("/8件（"))) << progress.last().toStdString();
  // Neither the click nor the key reached a window, then or later.
  pump(50);
  EXPECT_TRUE(TyakuForm::existing() == nullptr || !TyakuForm::existing()->isVisible());
  EXPECT_EQ(box_->connections, 1);
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
}

TEST_F(CheckMailTest, ACheckWhileAnotherRunsChangesNothing) {
  box_->add("a", textMail(u"件名"_qs, u"本文"_qs));
  main_->Text3->setText(QStringLiteral("前の状況"));
  main_->Text6->setText(QStringLiteral("7"));
  const received::CheckLock running = received::CheckLock::tryAcquire();
  check();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].text,
            u"別のメール受信を実行中です（同じプログラムフォルダ）。終わってから、もう一度受信して下さい。"_qs);
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("前の状況"));
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("7"));
  EXPECT_EQ(records(), 0);
  EXPECT_EQ(box_->connections, 0);
}

TEST(BoxShapes, TheStoredFieldsAreWhatTheBoxesGiveBack) {
  // The check stores each field as the viewer's boxes would give it back,
  // without putting every mail through the boxes.
  QLineEdit line;
  const QString header = QString(9000, u'件') + QStringLiteral("\tx");
  line.setText(reception::asLineBoxText(header));
  EXPECT_EQ(reception::asLineBoxText(header), line.text());
  EXPECT_EQ(reception::asLineBoxText(header).size(), 8191);
  const QString withNul = QStringLiteral("前") + QChar(0) + QStringLiteral("後");
  line.setText(text::CutAtNul(withNul));
  EXPECT_EQ(reception::asLineBoxText(withNul), line.text());
}

TEST(BodyStaging, TheStoredBodyIsWhatTheBodyBoxGivesBack) {
  // The check stores each body as the viewer's body box would give it back,
  // without putting every body through the box.
  const char16_t raw[] = u"a\r\nb\rc\nd\te\u2028f\u2029g\0h\r\n\r\n  x  \x0c y\r";
  const QString body = QString::fromUtf16(raw, sizeof(raw) / 2 - 1);
  QPlainTextEdit box;
  box.setPlainText(body);
  EXPECT_EQ(reception::asBodyBoxText(body), text::toCrLf(box.toPlainText()));
}
