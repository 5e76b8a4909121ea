#pragma once
// A program folder with a started main window, message boxes answered, and
// mails written straight into the received-mail file.
#include "platform/Paths.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/Gui.h"
#include "viewer/TyakuForm.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTreeView>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

struct Mail {
  QString subject, from, date, body;
};

// A record as the receive engine writes it.
inline QByteArray recordOf(const Mail& m) {
  store::MailRecord r;
  r.setSubject(m.subject);
  r.setFrom(m.from);
  r.setDate(m.date);
  r.setBody(m.body);
  r.markWritten();
  return r.bytes();
}

inline QString mailPath() { return paths::resolve(paths::kReceivedMailFile); }

inline void storeMails(const QList<Mail>& mails) {
  for (const Mail& m : mails)
    ASSERT_TRUE(store::appendRecord(mailPath(), store::MailRecord::kLength, recordOf(m), false).ok);
}

// Three mails with padding around every field, as users' mail has.
inline QList<Mail> threeMails() {
  return {{QStringLiteral("  件名その1 "), QStringLiteral("一郎 <ichiro@example.jp>"),
           QStringLiteral("Mon, 1 Apr 2024"), QStringLiteral("  本文その1です。  ")},
          {QStringLiteral("件名その2"), QStringLiteral("jiro@example.jp"), QStringLiteral("Tue, 2 Apr 2024"),
           QStringLiteral(" 本文その2 ")},
          {QStringLiteral("件名その3"), QStringLiteral("saburo@example.jp"), QStringLiteral("Wed, 3 Apr 2024"),
           QStringLiteral("本文その3")}};
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    home_.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("id"), QStringLiteral("pw"), true));
    main_ = std::make_unique<MainForm>();
    pump();
  }
  void TearDown() override {
    delete TyakuForm::existing();
    if (IdPassForm* i = IdPassForm::existing()) i->close();
    main_.reset();
    pump();
  }

  MainForm& main() { return *main_; }
  // "メールを見る", as the user presses it.
  TyakuForm& view() {
    main_->Command6->click();
    pump();
    return *TyakuForm::existing();
  }
  void clickRow(TyakuForm& v, int row) {
    QTreeView* list = v.MailListView;
    const QModelIndex idx = list->model()->index(row, 0);
    list->scrollTo(idx);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(idx).center());
  }
  static QString clipboard() { return QGuiApplication::clipboard()->text(); }
  static QString cell(TyakuForm& v, int row, int column) {
    return v.MailListView->model()->index(row, column).data().toString();
  }

  TempHome home_;
  MsgBoxAnswerer boxes_;
  std::unique_ptr<MainForm> main_;
};
