// "メールを取り込む" in the viewer's File menu: a file or folder chosen,
// the mails stored, the list filled again, the summary in a box.
#include "ViewerFixture.h"
#include "platform/TestHooks.h"
#include "platform/ui/FileDialog.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

namespace {

struct ImportDialogs {
  ImportDialogs() {
    testhooks::fileDialog = [this](const filedialog::Request& r) {
      requests.append(r);
      return answer;
    };
  }
  ~ImportDialogs() { testhooks::fileDialog = nullptr; }
  QString answer;
  QList<filedialog::Request> requests;
};

TEST_F(ViewerTest, MailBroughtInFromTheFileMenuFillsTheListAgain) {
  storeMails(threeMails());
  TyakuForm& v = view();
  ASSERT_TRUE(v.mFile->actions().contains(v.mtorikomi));
  EXPECT_EQ(v.mtorikomi->text(), QStringLiteral("メールを取り込む"));
  ImportDialogs dialogs;

  // Cancelled: nothing happens.
  v.mtorikomi->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].kind, filedialog::Kind::OpenFileOrFolder);
  EXPECT_TRUE(boxes_.texts().isEmpty());

  QTemporaryDir out;
  dialogs.answer = out.filePath(QStringLiteral("old.mbox"));
  QFile f(dialogs.answer);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("From a@example.jp Mon Apr  1 10:00:00 2024\nFrom: a@example.jp\nSubject: imported-1\n\nbody one\n\n"
          "From b@example.jp Mon Apr  1 10:00:00 2024\n\x01\x02 not a mail\n\n"
          "From c@example.jp Mon Apr  1 10:00:00 2024\nFrom: c@example.jp\nSubject: imported-2\n\nbody two\n");
  f.close();
  v.mtorikomi->trigger();
  ASSERT_EQ(boxes_.texts().size(), 1);
  EXPECT_EQ(boxes_.texts()[0], QStringLiteral("取り込み 2件、重複 0件、読めないもの 1件"));
  ASSERT_EQ(v.MailListView->model()->rowCount(), 5);
  EXPECT_EQ(cell(v, 3, 0).trimmed(), QStringLiteral("imported-1"));
  EXPECT_EQ(cell(v, 4, 0).trimmed(), QStringLiteral("imported-2"));
  EXPECT_EQ(v.Text2->text(), QStringLiteral("5"));

  // The same file again: every mail is there already, and the list stays.
  v.mtorikomi->trigger();
  ASSERT_EQ(boxes_.texts().size(), 2);
  EXPECT_EQ(boxes_.texts()[1], QStringLiteral("取り込み 0件、重複 2件、読めないもの 1件"));
  EXPECT_EQ(v.MailListView->model()->rowCount(), 5);
}

}  // namespace
