// The record files' failures as a user reads them: every code worded, the
// file and the system's words in their places.
#include "store/RecordFile.h"
#include "store/words/StoreWords.h"

#include <gtest/gtest.h>

using store::StoreCode;
using store::StoreFailure;
using store::failureText;

TEST(StoreWords, EveryFailureNamesItsFileAndTheSystemsWords) {
  const QString file = QStringLiteral("/home/u/★MAilData/plkdata2.data");
  const QString why = QStringLiteral("No space left on device");
  EXPECT_EQ(failureText({StoreCode::FolderMissing, file}), QStringLiteral("データフォルダ「/home/u/★MAilData」が見つかりません。"));
  EXPECT_EQ(failureText({StoreCode::Unopenable, file, why}),
            QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」を開けません（No space left on device）。"));
  EXPECT_EQ(failureText({StoreCode::Unreadable, file, why}),
            QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」を読めません（No space left on device）。"));
  EXPECT_EQ(failureText({StoreCode::Unreadable, file}), QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」を読めません。"));
  EXPECT_EQ(failureText({StoreCode::BadRecordNumber, file, {}, 0}), QStringLiteral("記録番号 0 には書き込めません。"));
  EXPECT_EQ(failureText({StoreCode::Unwritable, file, why}),
            QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」に書き込めません（No space left on device）。"));
  EXPECT_EQ(failureText({StoreCode::Unsynced, file, why}),
            QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」をディスクに書き出せません（No space left on device）。"));
  EXPECT_EQ(failureText({StoreCode::Untruncatable, file, why}),
            QStringLiteral("ファイル「/home/u/★MAilData/plkdata2.data」を元の長さに戻せません（No space left on device）。"));
  EXPECT_EQ(failureText({StoreCode::Full, file}),
            QStringLiteral("「plkdata2.data」には既に 32767 件が記録されていて、これ以上追加できません。不要なデータを削除して下さい。"));
  EXPECT_EQ(failureText({StoreCode::TempUnwritable, QStringLiteral("/home/u/★MAilData/PLKDATA2.TMP"), why}),
            QStringLiteral("一時ファイル「/home/u/★MAilData/PLKDATA2.TMP」に書き込めません（No space left on device）。"
                           "元のファイルはそのまま残っています。"));
  EXPECT_EQ(failureText({StoreCode::Unreplaceable, file, why}),
            QStringLiteral("「/home/u/★MAilData/plkdata2.data」を置き換えられません（No space left on device）。"
                           "元のファイルはそのまま残っています。"));
  EXPECT_TRUE(failureText({}).isEmpty());
}
