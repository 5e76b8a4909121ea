// One mail to every address of the book, through the send library alone:
// the book read through the address-book library, the mail through the
// mail library to an SMTP server in memory (support/FakeSmtp.h). What the
// window makes of the turns is proven in WriteFormSendTest.
#include "addressbook/book/AddressBook.h"
#include "composer/send/SendRun.h"
#include "settings/files/AccountSettings.h"
#include "support/FakeSmtp.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

class SendToEveryAddressRun : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    AccountSettings().SmtpServer = QStringLiteral("smtp.example.jp");
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
    AccountSettings().UserId = QStringLiteral("tomo");
    AccountSettings().Password = QStringLiteral("secret");
    smtp_->refuse = {QStringLiteral("refused@example.com")};
    smtp_->unconfirmed = {QStringLiteral("slow@example.com")};
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  static void book(const QStringList& addresses) {
    for (const QString& a : addresses) ASSERT_TRUE(addressbook::registerEntry(QStringLiteral("名前"), a).ok);
  }
  QStringList arrived() const {
    QStringList all;
    for (const auto& r : smtp_->received) all << r.rcptTos;
    return all;
  }
  // The run, with what its hooks were told.
  QList<SendTurn> run(QSet<QString>& served) {
    SendRunHooks hooks;
    hooks.counted = [this](int n) { counted_ << n; };
    hooks.starting = [this](const QString& field) { started_ << field; };
    hooks.ended = [this](const SendTurn& t) { ended_ << t.recipient; };
    return SendToEveryAddress(mail_, served, hooks);
  }

  TempHome home_;
  std::shared_ptr<FakeSmtp> smtp_ = std::make_shared<FakeSmtp>();
  std::unique_ptr<FakeSmtp::Installed> installed_ = FakeSmtp::install(smtp_);
  const OutgoingMail mail_{QStringLiteral("お知らせ"), QStringLiteral("本文"), QString(), QString()};
  QList<int> counted_;
  QStringList started_;
  QStringList ended_;
};

}  // namespace

TEST_F(SendToEveryAddressRun, ATurnRefusedMidwayIsReportedAndTheRestStillGo) {
  book({QStringLiteral("first@example.com"), QStringLiteral("refused@example.com"), QStringLiteral("third@example.com")});
  QSet<QString> served;
  const QList<SendTurn> turns = run(served);

  ASSERT_EQ(turns.size(), 3);
  EXPECT_EQ(counted_, QList<int>{3});
  // Each turn is told before and after, with the field as the book stores it
  // and the recipient without its padding.
  ASSERT_EQ(started_.size(), 3);
  EXPECT_EQ(started_[1].size(), 90);
  EXPECT_EQ(started_[1].trimmed(), QStringLiteral("refused@example.com"));
  EXPECT_EQ(ended_, (QStringList{QStringLiteral("first@example.com"), QStringLiteral("refused@example.com"),
                                 QStringLiteral("third@example.com")}));
  EXPECT_TRUE(turns[0].served());
  EXPECT_TRUE(turns[1].failed());
  EXPECT_FALSE(turns[1].skipped);
  EXPECT_FALSE(turns[1].outcome.uncertain);
  EXPECT_TRUE(turns[1].outcome.error.contains(QStringLiteral("refused@example.com")));
  EXPECT_TRUE(turns[2].served());
  EXPECT_EQ(arrived(), (QStringList{QStringLiteral("first@example.com"), QStringLiteral("third@example.com")}));
  EXPECT_EQ(served, (QSet<QString>{QStringLiteral("first@example.com"), QStringLiteral("third@example.com")}));
  // One connection for the run: a refused address does not end it.
  EXPECT_EQ(smtp_->connections, 1);
}

TEST_F(SendToEveryAddressRun, TheServedAreSkippedAndAMailboxListedTwiceGetsItOnce) {
  book({QStringLiteral("first@example.com"), QStringLiteral("refused@example.com"), QStringLiteral("third@example.com"),
        QStringLiteral("Third@Example.COM"), QStringLiteral("slow@example.com")});
  QSet<QString> served{QStringLiteral("first@example.com")};
  const QList<SendTurn> turns = run(served);

  // Refused, third and slow are left; third's second entry is the same mailbox.
  EXPECT_EQ(counted_, QList<int>{3});
  ASSERT_EQ(turns.size(), 3);
  EXPECT_EQ(turns[0].recipient, QStringLiteral("refused@example.com"));
  EXPECT_EQ(turns[1].recipient, QStringLiteral("third@example.com"));
  // Perhaps delivered: served, so that a second try does not send it again.
  EXPECT_EQ(turns[2].recipient, QStringLiteral("slow@example.com"));
  EXPECT_TRUE(turns[2].outcome.uncertain);
  EXPECT_TRUE(turns[2].served());
  EXPECT_EQ(arrived(), (QStringList{QStringLiteral("third@example.com"), QStringLiteral("slow@example.com")}));

  // The second try goes to the refused one only, and there is no one left after it.
  smtp_->refuse.clear();
  counted_.clear();
  const QList<SendTurn> again = run(served);
  EXPECT_EQ(counted_, QList<int>{1});
  ASSERT_EQ(again.size(), 1);
  EXPECT_EQ(again[0].recipient, QStringLiteral("refused@example.com"));
  EXPECT_TRUE(again[0].served());
  counted_.clear();
  EXPECT_TRUE(run(served).isEmpty());
  EXPECT_EQ(counted_, QList<int>{0});
  EXPECT_EQ(smtp_->attempts, 4);
}

TEST_F(SendToEveryAddressRun, AnEmptyBookGivesNoTurn) {
  QSet<QString> served;
  EXPECT_TRUE(run(served).isEmpty());
  EXPECT_EQ(counted_, QList<int>{0});
  EXPECT_TRUE(started_.isEmpty());
  EXPECT_EQ(smtp_->attempts, 0);
  EXPECT_TRUE(served.isEmpty());
}

// A server that cannot be reached fails every turn alike, and serves nobody.
TEST_F(SendToEveryAddressRun, AServerDownFailsEveryTurnAndServesNobody) {
  book({QStringLiteral("first@example.com"), QStringLiteral("third@example.com")});
  smtp_->down = true;
  QSet<QString> served;
  const QList<SendTurn> turns = run(served);
  ASSERT_EQ(turns.size(), 2);
  for (const SendTurn& t : turns) {
    EXPECT_TRUE(t.failed());
    EXPECT_FALSE(t.skipped);
    EXPECT_FALSE(t.outcome.error.isEmpty());
  }
  EXPECT_TRUE(served.isEmpty());
  EXPECT_EQ(smtp_->attempts, 2);
  // A failed connection is not used again: each turn tries afresh.
  EXPECT_EQ(smtp_->connections, 2);
}
