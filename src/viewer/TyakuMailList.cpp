// The viewer's list: filling it from the received-mail file and showing the
// mail of a clicked row.
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/MsgBox.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/words/StoreWords.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/TyakuForm.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

namespace {

void reportUnreadable(const viewer::MailListScan& scan) {
  if (scan.folderMissing)
    viewer::reportDataFolderMissing();
  else
    MsgBox(store::failureText(scan.failure), MsgButtons::Ok, MsgIcon::Exclamation);
}

// What a list that was filled needs to tell beyond its rows.
void reportPartialList(const viewer::MailListScan& scan) {
  if (scan.failure)
    MsgBox(store::failureText(scan.failure) + QStringLiteral("\n読めたところまでを一覧に表示しています。"), MsgButtons::Ok,
           MsgIcon::Exclamation);
  else if (scan.recordsInFile > store::kMaxRecords)
    MsgBox(QStringLiteral("受信メールが %1 件あり、一覧に表示できる %2 件を超えています。\n"
                          "一覧には最初の %2 件を表示しています。")
               .arg(scan.recordsInFile)
               .arg(store::kMaxRecords),
           MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace

void TyakuForm::FillMailList() {
  shared::ListSource = 1;
  QPalette listPalette = MailListView->palette();
  listPalette.setColor(QPalette::Base, QColor(210, 250, 250));
  MailListView->setPalette(listPalette);
  mailList->clear();
  rtfEd->clear();
  // Each record would pass through the boxes in turn; only the last one
  // stays there, so only the last one is put there.
  listFile(true);
}

void TyakuForm::listFile(bool trimHeaders) {
  viewer::MailListScan scan = viewer::scanReceivedMail();
  if (!scan.opened) {
    reportUnreadable(scan);
    setCount(0);
    return;
  }
  const int rows = scan.rows;
  mailList->setRecords(std::move(scan.heads));
  if (rows > 0) {
    store::ReceivedMailBuffer() = scan.last;
    showRecord(scan.last, trimHeaders);
  }
  setCount(rows);
  reportPartialList(scan);
}

void TyakuForm::ShowSelectedMail() {
  Text5->setText(QStringLiteral("1"));
  if (text::leadingNumber(Text2->text()) == 0) {
    MsgBox(QStringLiteral("選択するデータがありません。"));
    return;
  }
  // A click beside the rows leaves none selected: there is nothing to show.
  const int row = selectedRow();
  if (row < 0) return;

  store::RecordFile f(paths::resolve(paths::kReceivedMailFile), store::MailRecord::kLength);
  if (!f.open()) {
    if (viewer::dataFolderMissing())
      viewer::reportDataFolderMissing();
    else
      MsgBox(store::failureText(f.failure()), MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  QByteArray bytes;
  const store::ReadResult r = f.read(row + 1, bytes);
  f.close();
  if (r != store::ReadResult::Ok) {
    MsgBox(r == store::ReadResult::EndOfFile
               ? QStringLiteral(
                     "このメールは受信メールのファイルにもうありません。\n「メールを見る」で一覧を読み直して下さい。")
               : store::failureText(f.failure()),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  store::ReceivedMailBuffer().setBytes(bytes);
  showRecord(store::ReceivedMailBuffer(), true);
}

void TyakuForm::showRecord(const store::MailRecord& record, bool trimHeaders) {
  auto header = [&](store::Field f) {
    const QString s = record.text(f);
    return trimHeaders ? text::trimSpaces(s) : s;
  };
  Text7->setText(header(store::MailRecord::kSubject));
  Text8->setText(header(store::MailRecord::kFrom));
  Text9->setText(header(store::MailRecord::kDate));
  for (QLineEdit* b : {Text7, Text8, Text9}) b->setCursorPosition(0);  // read from the start
  // The round trip trims the body; trimming first spares the body box 32000
  // characters of padding.
  rtfEd->setPlainText(text::trimSpaces(record.body()));
  ClipboardRoundTrip();
}

void TyakuForm::ClipboardRoundTrip() {
  const QString body = rtfEd->toPlainText();
  // Putting the text replaces whatever the clipboard held. The trimmed body
  // is taken from the box, not read back from the clipboard: a desktop whose
  // clipboard cannot be had would otherwise leave the body box empty.
  QGuiApplication::clipboard()->setText(body, QClipboard::Clipboard);
  const QString trimmed = text::trimSpaces(body);
  if (trimmed != body) rtfEd->setPlainText(trimmed);
}
