#include "platform/Paths.h"
#include "platform/Profile.h"
#include "reception/AttachmentFiles.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/FileModes.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

// With no umask at all, what the program writes inside the folder is still
// the user's alone: records and their rewrite copies, attached files,
// settings.
TEST(ProgramFolder, WhatTheProgramWritesInsideIsTheUsersAlone) {
  Umask umask(0);
  TempHome home;
  const QString mails = home.file(paths::kReceivedMailFile);
  store::MailRecord r;
  r.setSubject(QStringLiteral("件名"));
  r.markWritten();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(store::appendRecord(mails, store::MailRecord::kLength, r.bytes(), true).ok);
  EXPECT_EQ(modeOf(mails), 0600);
  // The rewrite through the temporary copy, even of a file left open before.
  setMode(mails, 0644);
  const store::StoreResult del = store::deleteRecords(mails, home.file(paths::kReceivedMailTemp),
                                                      store::MailRecord::kLength, store::MailRecord::kFlagOffset, {2});
  ASSERT_TRUE(del.ok) << del.failure.cause.toStdString();
  EXPECT_EQ(modeOf(mails), 0600);

  maillib::AttachmentFolder attachments(home.file(paths::kAttachFolder));
  ASSERT_TRUE(attachments.write(QStringLiteral("写真.jpg"), "jpeg")) << attachments.fault().detail.toStdString();
  ASSERT_EQ(attachments.written().size(), 1);
  EXPECT_EQ(modeOf(attachments.written()[0]), 0600);

  const QString state = home.file(paths::kStateFile);
  ASSERT_TRUE(profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"),
                                                 QStringLiteral("1"), state));
  EXPECT_EQ(modeOf(state), 0600);
  EXPECT_EQ(notPrivate(home.path()).join(u'|').toStdString(), "");
}
