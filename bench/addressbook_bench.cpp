// The address book on a full file: 32767 entries (6 MB) written into a
// temporary program folder, then opening the window, picking rows,
// deleting one, registering one, the compose window's side list, and a
// vCard export and import of the whole book. Each step is run three times;
// the folder is removed at the end.
//
//   bench_addressbook [FOLDER]   FOLDER: where the temporary program folder
//                                goes (default: the system's temporary folder)
#include "addressbook/AddressListModel.h"
#include "addressbook/AddressListView.h"
#include "addressbook/FriendForm.h"
#include "addressbook/book/AddressBook.h"
#include "composer/WriteForm.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/TestHooks.h"
#include "platform/ui/AppSetup.h"
#include "platform/ui/MsgBox.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kEntries = store::kMaxRecords;

void say(const QString& s) {
  std::fputs(s.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

QByteArray entry(int n) {
  store::AddressRecord r;
  r.setName(QStringLiteral("取引先%1 営業部 様").arg(n));
  r.setAddress(n % 3 == 0 ? QStringLiteral("担当者%1<person%1@example.co.jp>").arg(n)
                          : QStringLiteral("person%1@example.jp").arg(n));
  r.markWritten();
  return r.bytes();
}

// Runs `step` three times and reports each and the slowest.
void measure(const QString& what, const std::function<void()>& step) {
  QList<double> runs;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    step();
    QCoreApplication::processEvents();  // painted
    runs << ms(t);
  }
  say(QStringLiteral("%1 %2 ms  (runs %3, %4, %5)")
          .arg(what.leftJustified(44, u' '))
          .arg(*std::max_element(runs.begin(), runs.end()), 6, 'f', 1)
          .arg(runs[0], 0, 'f', 1)
          .arg(runs[1], 0, 'f', 1)
          .arg(runs[2], 0, 'f', 1));
}

void press(FriendForm* f, int row) {
  AddressListView* list = f->MailListView;
  const QModelIndex idx = f->addressList->index(row, 0);
  list->scrollTo(idx);
  QCoreApplication::processEvents();
  QTest::mousePress(list->viewport(), Qt::LeftButton, {}, list->visualRect(idx).center());
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, list->visualRect(idx).center());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
  QTemporaryDir dir(base + QStringLiteral("/tomoshibi-bench-XXXXXX"));
  QString error;
  if (!dir.isValid() || !layOutProgramFolder(dir.path(), &error)) {
    say(QStringLiteral("cannot lay out a program folder below %1 %2").arg(base, error));
    return 1;
  }
  paths::setProgramFolder(dir.path());
  QDir::setCurrent(dir.path());
  const QString file = addressbook::addressFile();
  QByteArray book;
  for (int n = 1; n <= kEntries; ++n) book += entry(n);
  {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(book) != book.size()) return 1;
  }
  say(QStringLiteral("address book: %1 entries, %2 bytes").arg(kEntries).arg(book.size()));
  testhooks::msgBox = [](QMessageBox* box) {
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->click()
                                                                     : box->button(QMessageBox::Ok)->click(); });
  };

  measure(QStringLiteral("open the window (load, list, shown):"), [] {
    if (FriendForm* old = FriendForm::existing()) {
      old->close();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    FriendForm* f = FriendForm::instance();
    f->show();
  });
  FriendForm* f = FriendForm::instance();
  say(QStringLiteral("  rows listed: %1, count box %2").arg(f->addressList->rowCount()).arg(f->Text3->text()));

  measure(QStringLiteral("pick the last row:"), [f] { press(f, kEntries - 1); });
  // Deleting the middle entry, then registering one again: the book stays full.
  int rounds = 0;
  QList<double> deletes, registers;
  for (; rounds < 3; ++rounds) {
    press(f, kEntries / 2);
    QElapsedTimer t;
    t.start();
    f->Command4->click();
    QCoreApplication::processEvents();
    deletes << ms(t);
    if (f->addressList->rowCount() != kEntries - 1) say(QStringLiteral("  !! delete left %1 rows").arg(f->addressList->rowCount()));
    f->Text2->setText(QStringLiteral("新しい取引先"));
    f->Text4->setText(QStringLiteral("new%1@example.jp").arg(rounds));
    t.start();
    f->Command3->click();
    QCoreApplication::processEvents();
    registers << ms(t);
    if (f->addressList->rowCount() != kEntries) say(QStringLiteral("  !! register left %1 rows").arg(f->addressList->rowCount()));
  }
  auto report = [](const QString& what, const QList<double>& runs) {
    say(QStringLiteral("%1 %2 ms  (runs %3, %4, %5)")
            .arg(what.leftJustified(44, u' '))
            .arg(*std::max_element(runs.begin(), runs.end()), 6, 'f', 1)
            .arg(runs[0], 0, 'f', 1)
            .arg(runs[1], 0, 'f', 1)
            .arg(runs[2], 0, 'f', 1));
  };
  report(QStringLiteral("delete one (question answered, rewrite, fsync):"), deletes);
  report(QStringLiteral("register one (append, fsync, relist):"), registers);

  measure(QStringLiteral("compose window with the side list:"), [] {
    if (WriteForm* old = WriteForm::existing()) {
      old->close();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    WriteForm::instance()->show();
  });

  QByteArray vcf;
  measure(QStringLiteral("vCard of the whole book (read, write):"),
          [&vcf] { vcf = vcard::write(addressbook::exportCards(addressbook::readAll())); });
  say(QStringLiteral("  %1 bytes").arg(vcf.size()));
  measure(QStringLiteral("parse it back:"), [&vcf] { (void)vcard::parse(vcf); });
  // Into an empty book.
  QList<double> imports;
  for (int i = 0; i < 3; ++i) {
    QFile(file).resize(0);
    QElapsedTimer t;
    t.start();
    const addressbook::ImportReport rep = addressbook::importCards(vcard::parse(vcf));
    imports << ms(t);
    if (rep.added != kEntries) say(QStringLiteral("  !! import added %1").arg(rep.added));
  }
  report(QStringLiteral("import it into an empty book (parse, append):"), imports);
  return 0;
}
