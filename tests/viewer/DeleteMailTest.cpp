// Deleting one mail and all mails from the viewer.
#include "ViewerFixture.h"

#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "reception/ReceiveEngine.h"
#include "settings/files/AccountSettings.h"
#include "store/received/LeftOnServer.h"
#include "support/FakePop3.h"
#include "store/received/CheckLock.h"
#include "store/received/ReceiveJournal.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QByteArray fileBytes() {
  QFile f(mailPath());
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kAskOne = QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
const QString kAskAll = QStringLiteral("すべてのデータを削除して良いですか？");
const QString kNoSelection = QStringLiteral("データが選択されていません");

}  // namespace

TEST_F(ViewerTest, DeleteWithoutAClickOnlySaysSo) {
  storeMails(threeMails());
  TyakuForm& v = view();
  const QByteArray before = fileBytes();
  v.Command3->click();
  EXPECT_EQ(boxes_.texts(), QStringList{kNoSelection});
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("灯火亭"));
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(v.MailListView->model()->rowCount(), 3);
}

TEST_F(ViewerTest, NoKeepsTheMailButConsumesTheClick) {
  storeMails(threeMails());
  TyakuForm& v = view();
  const QByteArray before = fileBytes();
  clickRow(v, 1);
  boxes_.answer(QMessageBox::No);
  v.Command3->click();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].text, kAskOne);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Question);
  EXPECT_EQ(shared::CurrentRecordNumber, 2);
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());
  EXPECT_TRUE(v.Text5->text().isEmpty());
  EXPECT_EQ(v.MailListView->model()->rowCount(), 3);
  EXPECT_EQ(fileBytes(), before);

  v.Command3->click();  // no new click
  EXPECT_EQ(boxes_.texts().last(), kNoSelection);
  EXPECT_EQ(fileBytes(), before);

  boxes_.answer(QMessageBox::No);
  v.Command6->click();
  EXPECT_EQ(boxes_.texts().last(), kAskAll);
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(v.MailListView->model()->rowCount(), 3);
}

TEST_F(ViewerTest, DeletingMailTwoOfThreeRenumbersAndShowsTheLastUntrimmed) {
  const QList<Mail> mails = threeMails();
  storeMails(mails);
  TyakuForm& v = view();
  clickRow(v, 1);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();

  EXPECT_EQ(fileBytes(), recordOf(mails[0]) + recordOf(mails[2]));
  EXPECT_FALSE(QFileInfo::exists(paths::resolve(paths::kReceivedMailTemp)));
  ASSERT_EQ(v.MailListView->model()->rowCount(), 2);
  EXPECT_EQ(cell(v, 1, 0).trimmed(), QStringLiteral("件名その3"));
  // The boxes hold the former mail 3 as stored, padding and all; the body
  // and the clipboard have it trimmed.
  const store::MailRecord last(recordOf(mails[2]));
  EXPECT_EQ(v.Text7->text(), last.subject());
  EXPECT_EQ(v.Text8->text(), last.from());
  EXPECT_EQ(v.Text9->text(), last.date());
  EXPECT_TRUE(v.Text7->text().endsWith(u' '));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("本文その3"));
  EXPECT_EQ(clipboard(), QStringLiteral("本文その3"));
  EXPECT_EQ(v.Text2->text(), QStringLiteral("2"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("2"));
  EXPECT_TRUE(v.Text5->text().isEmpty());

  // The rows now stand for the renumbered records.
  clickRow(v, 1);
  EXPECT_EQ(v.Text7->text(), QStringLiteral("件名その3"));
}

TEST_F(ViewerTest, DeleteListsWhatTheFileHoldsNotWhatWasListed) {
  const QList<Mail> mails = threeMails();
  storeMails(mails);
  {
    // Mail 1 was marked by a rewrite that never finished: listed, but the
    // next rewrite drops it.
    store::RecordFile f(mailPath(), store::MailRecord::kLength);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.writeLiveFlag(1, store::MailRecord::kFlagOffset, 0));
  }
  TyakuForm& v = view();
  ASSERT_EQ(v.MailListView->model()->rowCount(), 3);
  const Mail fourth{QStringLiteral("件名その4"), QStringLiteral("shiro@example.jp"), QStringLiteral("Thu"),
                    QStringLiteral("本文4")};
  storeMails({fourth});  // a check while the viewer is open appends; the list stays
  clickRow(v, 1);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  ASSERT_EQ(v.MailListView->model()->rowCount(), 2);
  EXPECT_EQ(cell(v, 0, 0).trimmed(), QStringLiteral("件名その3"));
  EXPECT_EQ(cell(v, 1, 0).trimmed(), QStringLiteral("件名その4"));
  EXPECT_EQ(v.Text7->text(), store::MailRecord(recordOf(fourth)).subject());
  EXPECT_EQ(v.Text2->text(), QStringLiteral("2"));
  EXPECT_EQ(fileBytes(), recordOf(mails[2]) + recordOf(fourth));
}

TEST_F(ViewerTest, DeletingTheOnlyMailEmptiesEverything) {
  storeMails({threeMails()[0]});
  TyakuForm& v = view();
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_EQ(QFileInfo(mailPath()).size(), 0);
  EXPECT_EQ(v.MailListView->model()->rowCount(), 0);
  for (QLineEdit* b : {v.Text7, v.Text8, v.Text9}) EXPECT_TRUE(b->text().isEmpty());
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(v.Text2->text(), QStringLiteral("0"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("0"));
}

TEST_F(ViewerTest, DeleteAllDropsEveryRecordAndAPartialTail) {
  storeMails(threeMails());
  {
    QFile f(mailPath());
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(20000, 'x'));  // 3.62 records: three complete ones
  }
  TyakuForm& v = view();
  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  EXPECT_EQ(boxes_.texts(), QStringList{kAskAll});
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(QFileInfo(mailPath()).size(), 0);
  EXPECT_FALSE(QFileInfo::exists(paths::resolve(paths::kReceivedMailTemp)));
  EXPECT_EQ(shared::CurrentRecordNumber, 3);
  EXPECT_EQ(v.MailListView->model()->rowCount(), 0);
  for (QLineEdit* b : {v.Text7, v.Text8, v.Text9}) EXPECT_TRUE(b->text().isEmpty());
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(main().Text1->toPlainText(), QStringLiteral("0"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("0"));

  // Once more on the now empty file.
  main().Text1->setPlainText(QStringLiteral("help"));
  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  EXPECT_EQ(QFileInfo(mailPath()).size(), 0);
  EXPECT_EQ(main().Text1->toPlainText(), QStringLiteral("0"));
  EXPECT_EQ(v.Text2->text(), QStringLiteral("0"));
}

TEST_F(ViewerTest, MissingDataFolderWhileDeletingWritesNothing) {
  storeMails(threeMails());
  TyakuForm& v = view();
  clickRow(v, 1);
  // The folder goes away under the open viewer.
  const QString data = home_.file(paths::kDataFolder);
  const QString away = home_.path() + QStringLiteral("/moved");
  ASSERT_TRUE(QDir().rename(data, away));
  const QByteArray before = [&] {
    QFile f(away + QStringLiteral("/plkdata2.data"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();

  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  ASSERT_EQ(boxes_.seen().size(), 4);  // question, folder, question, folder
  for (int i : {1, 3}) {
    EXPECT_TRUE(boxes_.seen()[i].text.contains(QStringLiteral("tomoshibi --init-home")));
    EXPECT_TRUE(boxes_.seen()[i].text.contains(QStringLiteral("★MAilData")));
  }
  EXPECT_FALSE(QFileInfo::exists(data));
  QFile f(away + QStringLiteral("/plkdata2.data"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  // The mail, the list's index of it and the account file: no temporary copy.
  EXPECT_EQ(QDir(away).entryList(QDir::Files).size(), 3) << QDir(away).entryList(QDir::Files).join(u' ').toStdString();
  EXPECT_TRUE(QFileInfo::exists(away + QStringLiteral("/plkdata2.data.heads")));
}

TEST_F(ViewerTest, FailedRewriteIsReportedAndTheListKeepsEveryMail) {
  storeMails(threeMails());
  TyakuForm& v = view();
  clickRow(v, 2);
  testhooks::rewriteStep = [](store::RewriteStep s) { return s == store::RewriteStep::Renamed; };
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  testhooks::rewriteStep = nullptr;
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("元のファイルはそのまま残っています")));
  EXPECT_EQ(QFileInfo(mailPath()).size(), 3 * store::MailRecord::kLength);
  EXPECT_FALSE(QFileInfo::exists(paths::resolve(paths::kReceivedMailTemp)));
  EXPECT_EQ(v.MailListView->model()->rowCount(), 3);
  EXPECT_EQ(v.Text2->text(), QStringLiteral("3"));
}

// A delete that failed leaves nothing behind that a later delete would act on.
TEST_F(ViewerTest, AFailedDeleteAllDoesNotMakeTheNextDeleteTakeEverything) {
  storeMails(threeMails());
  const QByteArray before = [] {
    QFile f(mailPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  TyakuForm& v = view();
  testhooks::rewriteStep = [](store::RewriteStep s) { return s == store::RewriteStep::TempFlushed; };
  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  testhooks::rewriteStep = nullptr;
  {
    QFile f(mailPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
  }
  EXPECT_EQ(v.Text2->text(), QStringLiteral("3"));

  clickRow(v, 1);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_EQ(QFileInfo(mailPath()).size(), 2 * store::MailRecord::kLength);
  EXPECT_EQ(v.Text2->text(), QStringLiteral("2"));
  EXPECT_EQ(main().Text4->text(), QStringLiteral("2"));
}

TEST_F(ViewerTest, ADeleteWaitsForNoCheckAndTakesNoHalfCheckAlong) {
  const QList<Mail> mails = threeMails();
  storeMails(mails);
  TyakuForm& v = view();
  const QByteArray before = fileBytes();

  // A check running on the same program folder (tomoshibi --check): the
  // rewrite would lose whatever it appends meanwhile.
  {
    const received::CheckLock running = received::CheckLock::tryAcquire();
    ASSERT_EQ(running.state(), received::CheckLock::State::Held);
    clickRow(v, 0);
    const QString shown = v.Text7->text();
    boxes_.answer(QMessageBox::Yes);
    v.Command3->click();
    EXPECT_EQ(boxes_.texts().last(),
              u"別のメール受信を実行中です（同じプログラムフォルダ）。終わってから、もう一度受信して下さい。"_qs);
    EXPECT_EQ(boxes_.seen().last().icon, QMessageBox::Warning);
    EXPECT_EQ(fileBytes(), before);
    // Nothing was touched: the mail is still shown, and listed.
    EXPECT_EQ(v.Text7->text(), shown);
    EXPECT_EQ(v.MailListView->model()->rowCount(), 3);
  }

  // A check that was killed after appending a mail it never committed: the
  // record is cut back before the rewrite, not carried into the new file
  // (its mail is still on the server and comes again).
  {
    QFile f(mailPath());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const int fd = f.handle();
    received::ReceiveJournal journal(received::receiveJournalPath());
    received::Fault why;
    ASSERT_TRUE(journal.begin({{mailPath(), fd, f.size()}}, &why)) << why.detail.toStdString();
    f.seek(f.size());
    f.write(recordOf({QStringLiteral("途中"), QStringLiteral("x@example.jp"), QString(), QStringLiteral("本文")}));
  }
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_EQ(fileBytes(), recordOf(mails[1]) + recordOf(mails[2]));
}

namespace {

struct QuietSink : reception::CheckSink {
  bool canAsk() const override { return false; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void error(const reception::CheckFailure&) override {}
  void notice(const reception::CheckProblem&) override {}
  void progress(const reception::CheckProgress&) override {}
  bool stopRequested() override { return false; }
};

QByteArray plainMail(const QByteArray& subject) {
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject + "@example.jp>\r\n\r\nbody\r\n";
}

}  // namespace

TEST_F(ViewerTest, ADeleteHereGoesThereOnlyWithTheServerDialogsChoice) {
  auto box = std::make_shared<FakeMailbox>();
  const auto fake = FakeMailbox::install(box);
  AccountSettingsRecord& s = AccountSettings();
  s.Pop3Server = QStringLiteral("pop.example");
  s.LeaveOnServer = true;
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
  for (const char* subject : {"one", "two", "three"}) box->add(QByteArray("u-") + subject, plainMail(subject));
  QuietSink sink;
  ASSERT_FALSE(reception::runCheck(sink).failed);
  auto noted = [] {
    received::LeftLedger l;
    EXPECT_TRUE(received::loadLeftLedger(&l));
    QList<QByteArray> out;
    for (const received::LeftEntry& e : l.entries)
      if (e.deletedHere) out << e.id.uid;
    return out;
  };

  // Off: the mail goes here only.
  TyakuForm& v = view();
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_TRUE(noted().isEmpty());
  // On: noted for the next check, one mail and then all.
  s.LeaveDeleteWithHere = true;
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  EXPECT_EQ(noted(), QList<QByteArray>{"u-two"});
  boxes_.answer(QMessageBox::Yes);
  v.Command6->click();
  EXPECT_EQ(noted(), (QList<QByteArray>{"u-two", "u-three"}));
  ASSERT_FALSE(reception::runCheck(sink).failed);
  ASSERT_EQ(box->messages.size(), 1);
  EXPECT_EQ(box->messages[0].uid, "u-one");
  s = AccountSettingsRecord{};
}
