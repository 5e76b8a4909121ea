// The files of received mail in the attachment folder: safe names that stay
// inside it, no file replaced, and nothing of a mail left when one of its
// files cannot be written.
#include "reception/AttachmentFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace maillib;

namespace {

QByteArray golden(const char* name) {
  QFile f(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/data/mail/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

}  // namespace

TEST(AttachmentFiles, HostileNamesStayInsideTheFolder) {
  const DecodedMail m = decodeMail(golden("dotdot-filename.eml"));
  ASSERT_EQ(m.attachments.size(), 6);
  QStringList safe;
  for (const MailAttachment& a : m.attachments) safe << safeFileName(a.name);
  EXPECT_EQ(safe, (QStringList{QStringLiteral("bashrc"), QStringLiteral("passwd"), QStringLiteral("win.ini"),
                               QStringLiteral("evilgnp.exe"), QStringLiteral("添付ファイル"),
                               QStringLiteral("file1.bin")}));

  QTemporaryDir root;
  const QString folder = root.filePath(QStringLiteral("添付フォルダ"));
  ASSERT_TRUE(QDir().mkpath(folder));
  AttachmentFolder files(folder);
  decodeMail(golden("dotdot-filename.eml"), &files);
  EXPECT_FALSE(files.failed()) << files.fault().detail.toStdString();
  EXPECT_EQ(files.written().size(), 6);
  for (const QString& f : files.written()) EXPECT_EQ(QFileInfo(f).absolutePath(), QDir(folder).absolutePath());
  EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{QStringLiteral("添付フォルダ")});
}

TEST(AttachmentFiles, NamesAreCleanedAndShortened) {
  EXPECT_EQ(safeFileName(QStringLiteral("a\tb\x01" "c:d*e?.txt ")), QStringLiteral("abc_d_e_.txt"));
  EXPECT_EQ(safeFileName(QStringLiteral("　. .")), QStringLiteral("添付ファイル"));
  const QString longName = QString(300, QChar(u'長')) + QStringLiteral(".docx");
  const QString cut = safeFileName(longName);
  EXPECT_LE(cut.toUtf8().size(), 200);
  EXPECT_TRUE(cut.endsWith(QStringLiteral("長.docx")));
}

TEST(AttachmentFiles, AnExistingFileIsNeverReplaced) {
  QTemporaryDir dir;
  {
    QFile old(dir.filePath(QStringLiteral("report.pdf")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
  }
  AttachmentFolder files(dir.path());
  ASSERT_TRUE(files.write(QStringLiteral("report.pdf"), "new1"));
  ASSERT_TRUE(files.write(QStringLiteral("report.pdf"), "new2"));
  EXPECT_EQ(files.written(), (QStringList{dir.filePath(QStringLiteral("report (2).pdf")),
                                          dir.filePath(QStringLiteral("report (3).pdf"))}));
  QFile old(dir.filePath(QStringLiteral("report.pdf")));
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), QByteArray("old"));

  // A mail's own name is kept as it is, placeholders of a format included.
  for (const QString& name : {QStringLiteral("%2"), QStringLiteral("%1.%3"), QStringLiteral("50%2割引.pdf")}) {
    ASSERT_TRUE(files.write(name, "a"));
    ASSERT_TRUE(files.write(name, "b"));
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name, ext = dot > 0 ? name.mid(dot) : QString();
    EXPECT_EQ(files.written().mid(files.written().size() - 2),
              (QStringList{dir.filePath(name), dir.filePath(stem + QStringLiteral(" (2)") + ext)}));
  }

  // No folder: a failure, and nothing of the mail left behind.
  AttachmentFolder missing(dir.filePath(QStringLiteral("missing")));
  EXPECT_FALSE(missing.write(QStringLiteral("a.txt"), "x"));
  EXPECT_TRUE(missing.failed());
  EXPECT_EQ(missing.fault().code, AttachmentFault::Code::FolderMissing);
  // A mail without files writes nothing and does not fail.
  AttachmentFolder none(dir.path());
  decodeMail(QByteArray("From: a@b\r\n\r\nno files\r\n"), &none);
  EXPECT_FALSE(none.failed());
  EXPECT_TRUE(none.written().isEmpty());
}

TEST(AttachmentFiles, AFileThatCannotBeWrittenTakesTheMailsOtherFilesWithIt) {
  QTemporaryDir dir;
  QStringList announced;
  AttachmentFolder files(dir.path(), [&](const QString& path, QString* why) {
    announced << path;
    if (announced.size() < 2) return true;
    *why = QStringLiteral("journal full");
    return false;
  });
  ASSERT_TRUE(files.write(QStringLiteral("one.txt"), "1"));
  EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("one.txt"))));
  EXPECT_FALSE(files.write(QStringLiteral("two.txt"), "2"));
  EXPECT_TRUE(files.failed());
  EXPECT_EQ(files.fault().code, AttachmentFault::Code::Refused);
  EXPECT_EQ(files.fault().detail, QStringLiteral("journal full"));
  EXPECT_TRUE(files.written().isEmpty());
  EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
  // No further file is taken once one failed.
  EXPECT_FALSE(files.write(QStringLiteral("three.txt"), "3"));
  EXPECT_EQ(announced.size(), 2);
}
