#pragma once
// A compose window in a fresh program folder, with the address book filled
// as a test needs it.
#include "composer/SideList.h"
#include "composer/WriteForm.h"
#include "platform/Paths.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/Gui.h"

#include <QCoreApplication>
#include <QEvent>
#include <QListWidget>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>
#include <utility>

inline void addAddress(const TempHome& home, const QString& name, const QString& address) {
  store::AddressRecord r;
  r.setName(name);
  r.setAddress(address);
  r.markWritten();
  const QString file = home.file(paths::kAddressFile);
  store::RecordFile f(file, store::AddressRecord::kLength);
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.write(f.recordCount() + 1, r.bytes()));
  f.close();
}

// Lets a closed window be destroyed.
inline void destroyClosed() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  pump();
}

class Compose {
 public:
  Compose() : form_(WriteForm::instance()) {
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_));
  }
  ~Compose() {
    if (form_) form_->close();
    destroyClosed();
  }
  WriteForm* operator->() const { return form_; }
  WriteForm* get() const { return form_; }
  bool alive() const { return !form_.isNull(); }

  // The attachment dialog answers with these paths in turn ("" = cancelled).
  void chooseFiles(const QStringList& paths) {
    choices_ = paths;
    form_->chooseAttachment = [this] {
      ++dialogs_;
      return choices_.isEmpty() ? QString() : choices_.takeFirst();
    };
  }
  int dialogsShown() const { return dialogs_; }

  // A mouse button pressed over row `row` of the side list (-1: below the rows).
  void pressSideList(int row) {
    QListWidget* list = form_->List1;
    const QPoint at = row >= 0 ? list->visualItemRect(list->item(row)).center()
                               : QPoint(list->viewport()->width() / 2, list->viewport()->height() - 2);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
  }

 private:
  QPointer<WriteForm> form_;
  QStringList choices_;
  int dialogs_ = 0;
};
