// Handing the originals out: mbox read back by another program's reader
// (Python's mailbox), a mail without an original, the data folder left as
// it was.
#include "platform/Paths.h"
#include "reception/ExportWords.h"
#include "reception/MailExport.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedStore.h"
#include "support/TempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace reception;
using received::Code;
using received::OriginalsAppender;
using received::originalsIndexPath;
using received::originalsPath;

namespace {

constexpr int kLength = store::MailRecord::kLength;

received::Original originalOfRecord(int number) { return received::ReceivedStore::original(number); }

class Export : public ::testing::Test {
 protected:
  // A record as the check writes it, and, unless `keepOriginal` is false,
  // its original beside it.
  void receive(const QString& subject, const QByteArray& original, bool keepOriginal = true) {
    store::MailRecord r;
    r.setSubject(subject);
    r.setDate(QStringLiteral("Mon, 1 Apr 2024 10:00:00 +0900"));
    r.setFrom(QStringLiteral("送信者 <a@example.jp>"));
    r.setBody(QStringLiteral("本文"));
    r.markWritten();
    ASSERT_TRUE(store::appendRecord(paths::resolve(paths::kReceivedMailFile), kLength, r.bytes(), true).ok);
    ++records_;
    if (!keepOriginal) return;
    OriginalsAppender a;
    received::Fault why;
    qint64 at = 0;
    ASSERT_TRUE(a.open(&why)) << why.detail.toStdString();
    ASSERT_TRUE(a.append(original, &at, &why));
    a.addEntry({records_, at, original.size(), received::recordFingerprint(r.bytes()), 1711933200 + records_, "uid"});
    ASSERT_TRUE(a.writeEntries(&why) && a.sync(&why));
  }

  // Name, size and time of every file of the data folder.
  QStringList dataFolderState() const {
    QStringList out;
    const QDir d(QFileInfo(paths::resolve(paths::kReceivedMailFile)).absolutePath());
    for (const QFileInfo& f : d.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
      out << f.fileName() + u' ' + QString::number(f.size()) + u' ' +
                 QString::number(f.lastModified().toMSecsSinceEpoch());
    return out;
  }

  TempHome home_;
  QTemporaryDir out_;
  int records_ = 0;
};

const QByteArray kFirst =
    "From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?= <tanaka@example.jp>\r\nSubject: first\r\n"
    "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\nFrom the start of a line\r\n>From quoted once\r\n"
    "  From not at the start\r\n>>From twice\r\n";
const QByteArray kSecond = "From: b@example.jp\r\nSubject: =?UTF-8?B?5LqM6YCa55uu?=\r\n\r\nline\r\n\r\n";
const QByteArray kThird = "Subject: third\r\nFrom:\r\n <c@example.jp>\r\n\r\nno line end at the end";

}  // namespace

TEST_F(Export, ThreeMailsReadBackByPythonsMailbox) {
  receive(QStringLiteral("first"), kFirst);
  receive(QStringLiteral("old"), QByteArray(), false);  // received before originals were kept
  receive(QStringLiteral("二通目"), kSecond);
  receive(QStringLiteral("third"), kThird);
  const QStringList before = dataFolderState();

  const QString mbox = out_.filePath(QStringLiteral("受信.mbox"));
  const ExportSummary s = exportMbox(mbox);
  ASSERT_TRUE(s.ok) << exportFaultText(s.fault).toStdString();
  EXPECT_EQ(s.exported, 3);
  EXPECT_EQ(s.withoutOriginal, 1);
  EXPECT_TRUE(exportedText(s, mbox).contains(noOriginalText()));
  EXPECT_EQ(dataFolderState(), before);

  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"),
           {QStringLiteral("-c"), QStringLiteral(R"py(
import base64, email.header, json, mailbox, sys
out = []
box = mailbox.mbox(sys.argv[1])
for key in box.keys():
    m = box[key]
    subject = str(email.header.make_header(email.header.decode_header(m['Subject'])))
    out.append({'subject': subject, 'from': m.get_from(), 'bytes': base64.b64encode(box.get_bytes(key)).decode()})
print(json.dumps(out))
)py"),
            mbox});
  ASSERT_TRUE(py.waitForFinished(30000));
  ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
  const QJsonArray got = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
  ASSERT_EQ(got.size(), 3);
  EXPECT_EQ(got[0].toObject()[u"subject"].toString(), QStringLiteral("first"));
  EXPECT_EQ(got[1].toObject()[u"subject"].toString(), QStringLiteral("二通目"));
  EXPECT_EQ(got[2].toObject()[u"subject"].toString(), QStringLiteral("third"));
  EXPECT_TRUE(got[0].toObject()[u"from"].toString().startsWith(u"tanaka@example.jp Mon Apr  1 01:00:01 2024"));
  EXPECT_TRUE(got[2].toObject()[u"from"].toString().startsWith(u"c@example.jp "));
  auto bytesOf = [&](int i) { return QByteArray::fromBase64(got[i].toObject()[u"bytes"].toString().toLatin1()); };
  // The reader's bytes: LF lines, the "From " lines quoted one level more.
  EXPECT_EQ(bytesOf(0), QByteArray("From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?= <tanaka@example.jp>\nSubject: first\n"
                                   "Date: Mon, 1 Apr 2024 10:00:00 +0900\n\n>From the start of a line\n"
                                   ">>From quoted once\n  From not at the start\n>>>From twice\n"));
  EXPECT_EQ(bytesOf(1), QByteArray("From: b@example.jp\nSubject: =?UTF-8?B?5LqM6YCa55uu?=\n\nline\n\n"));
  EXPECT_EQ(bytesOf(2), QByteArray("Subject: third\nFrom:\n <c@example.jp>\n\nno line end at the end\n"));
}

TEST_F(Export, OneOriginalAsItsOwnBytesAndNoneForAnOldMail) {
  receive(QStringLiteral("old"), QByteArray(), false);
  receive(QStringLiteral("first"), kFirst);
  const received::Original old = originalOfRecord(1);
  EXPECT_TRUE(old.bytes.isNull());
  EXPECT_EQ(old.fault.code, Code::OriginalMissing);
  const received::Original first = originalOfRecord(2);
  EXPECT_EQ(first.bytes, kFirst);

  const QString eml = out_.filePath(QStringLiteral("first.eml"));
  ExportFault why;
  ASSERT_TRUE(writeExportFile(eml, first.bytes, &why)) << exportFaultText(why).toStdString();
  QFile f(eml);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), kFirst);
  // The data folder is never a target: it holds the archive itself.
  EXPECT_FALSE(writeExportFile(originalsPath(), QByteArray("x"), &why));
  EXPECT_EQ(why.code, ExportFault::Code::InsideDataFolder);
  EXPECT_FALSE(exportMbox(paths::resolve(paths::kReceivedMailFile)).ok);
  EXPECT_EQ(originalOfRecord(2).bytes, kFirst);
}

TEST_F(Export, AFolderWithoutMailOrArchiveGivesAnEmptyMbox) {
  const QStringList before = dataFolderState();
  const QString mbox = out_.filePath(QStringLiteral("empty.mbox"));
  const ExportSummary s = exportMbox(mbox);
  ASSERT_TRUE(s.ok) << exportFaultText(s.fault).toStdString();
  EXPECT_EQ(s.exported, 0);
  EXPECT_TRUE(QFileInfo::exists(mbox));
  EXPECT_EQ(QFileInfo(mbox).size(), 0);
  EXPECT_EQ(dataFolderState(), before);
}

// A link at the target is followed by the write: one that leads into the
// data folder (to its files, to a new name there, through other links or a
// linked folder) is refused and nothing there changes; one that leads
// elsewhere is written through.
TEST_F(Export, ALinkIntoTheDataFolderIsRefused) {
  receive(QStringLiteral("first"), kFirst);
  const QString data = QFileInfo(paths::resolve(paths::kReceivedMailFile)).absolutePath();
  auto link = [&](const QString& name, const QString& to) {
    const QString at = out_.filePath(name);
    EXPECT_EQ(::symlink(QFile::encodeName(to).constData(), QFile::encodeName(at).constData()), 0) << name.toStdString();
    return at;
  };
  const QStringList targets{
      link(QStringLiteral("mail.mbox"), paths::resolve(paths::kReceivedMailFile)),
      link(QStringLiteral("archive.mbox"), originalsPath()),
      link(QStringLiteral("index.mbox"), originalsIndexPath()),
      link(QStringLiteral("new.mbox"), data + QStringLiteral("/new.mbox")),
      link(QStringLiteral("chain.mbox"), QStringLiteral("mail.mbox")),
      link(QStringLiteral("relative.mbox"), QDir(out_.path()).relativeFilePath(originalsPath())),
      link(QStringLiteral("folder"), data) + QStringLiteral("/x.mbox"),
  };
  const QStringList before = dataFolderState();
  const QByteArray records = home_.read(paths::kReceivedMailFile);
  for (const QString& t : targets) {
    SCOPED_TRACE(t.toStdString());
    const ExportSummary s = exportMbox(t);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.fault.code, ExportFault::Code::InsideDataFolder) << exportFaultText(s.fault).toStdString();
    ExportFault why;
    EXPECT_FALSE(writeExportFile(t, kFirst, &why));
    EXPECT_EQ(why.code, ExportFault::Code::InsideDataFolder);
    EXPECT_EQ(RunExportMbox(t), 1);
    EXPECT_EQ(dataFolderState(), before);
  }
  EXPECT_EQ(home_.read(paths::kReceivedMailFile), records);
  EXPECT_EQ(originalOfRecord(1).bytes, kFirst);
  EXPECT_TRUE(QFileInfo(out_.filePath(QStringLiteral("mail.mbox"))).isSymLink());

  const QString elsewhere = link(QStringLiteral("elsewhere.mbox"), out_.filePath(QStringLiteral("real.mbox")));
  ASSERT_TRUE(exportMbox(elsewhere).ok);
  EXPECT_TRUE(QFileInfo(elsewhere).isSymLink());
  EXPECT_GT(QFileInfo(out_.filePath(QStringLiteral("real.mbox"))).size(), 0);
}

// Originals lost or changed by outside damage (bytes overwritten, the
// archive cut short, then removed to get space back): the export writes the
// others, counts these with the ones without an original, and never writes
// one mail's bytes for another.
TEST_F(Export, LostOrChangedOriginalsAreCountedAndTheRestExported) {
  receive(QStringLiteral("first"), kFirst);
  receive(QStringLiteral("second"), kSecond);
  receive(QStringLiteral("third"), kThird);
  const QString archivePath = originalsPath();
  {
    QFile f(archivePath);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(kFirst.size() + 3));
    ASSERT_EQ(f.write("X"), 1);
  }
  ASSERT_TRUE(QFile::resize(archivePath, kFirst.size() + kSecond.size() + 5));

  const QString mbox = out_.filePath(QStringLiteral("all.mbox"));
  ExportSummary s = exportMbox(mbox);
  ASSERT_TRUE(s.ok) << exportFaultText(s.fault).toStdString();
  EXPECT_EQ(s.exported, 1);
  EXPECT_EQ(s.withoutOriginal, 2);
  EXPECT_TRUE(exportedText(s, mbox).contains(QStringLiteral("2 通は原文が"))) << exportedText(s, mbox).toStdString();
  EXPECT_EQ(RunExportMbox(mbox), 0);
  // The second's bytes are not those received; the third's are gone.
  for (const auto& [n, code] : {std::pair{2, Code::OriginalChanged}, std::pair{3, Code::OriginalLost}}) {
    const received::Original r = originalOfRecord(n);
    EXPECT_TRUE(r.bytes.isNull()) << n;
    EXPECT_EQ(r.fault.code, code) << n;
    EXPECT_EQ(r.fault.path, originalsPath()) << n;
  }

  ASSERT_TRUE(QFile::remove(archivePath));
  const QByteArray fourth = "From: d@example.jp\r\nSubject: fourth\r\n\r\n" + QByteArray(2000, 'd') + "\r\n";
  receive(QStringLiteral("fourth"), fourth);
  s = exportMbox(mbox);
  ASSERT_TRUE(s.ok) << exportFaultText(s.fault).toStdString();
  EXPECT_EQ(s.exported, 1);
  EXPECT_EQ(s.withoutOriginal, 3);
  QFile f(mbox);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray all = f.readAll();
  EXPECT_EQ(all.count("Subject: fourth"), 1);
  EXPECT_FALSE(all.contains("Subject: first"));
  EXPECT_TRUE(originalOfRecord(1).bytes.isNull());
  EXPECT_EQ(originalOfRecord(4).bytes, fourth);
}

TEST(ExportFromLine, AMailWithBareLfLinesIsSentByItsOwnFromField) {
  // Servers hand some mail over with bare LF lines: the sender is still the
  // mail's own From field, not MAILER-DAEMON, and never the From field of a
  // mail attached to it.
  const QByteArray own = "From: own@example.jp\nSubject: s\nContent-Type: message/rfc822\n\n"
                         "From: Inner <inner@example.jp>\r\nSubject: inner\r\n\r\nbody\r\n";
  EXPECT_TRUE(mboxrdEntry(own, 0).startsWith("From own@example.jp Thu Jan  1 00:00:00 1970 tomoshibi-mboxrd\n"))
      << mboxrdEntry(own, 0).left(60).toStdString();
  const QByteArray folded = "Subject: s\nFrom: Sender\n\t<folded@example.jp>\n\nbody\n";
  EXPECT_TRUE(mboxrdEntry(folded, 0).startsWith("From folded@example.jp "));
}
