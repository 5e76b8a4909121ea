// Every golden mail of tests/data/mail through a whole mail check, pinned
// byte for byte in tests/data/mail/pinned-records.txt: the record it
// becomes, the files it leaves in the attachment folder, the digest the
// list of received mails keeps of it and the "From " line of its mbox
// export. Each mail goes once as it is and once with bare LF lines, as some
// servers hand mail over. Whatever moves one of these bytes (the decoder,
// the charsets, the header scan, the record fields) fails here.
//
// After a change that is meant to alter stored bytes, the file is written
// afresh with TOMOSHIBI_WRITE_PINNED=1 and the difference reviewed.
#include "platform/Paths.h"
#include "reception/CheckWords.h"
#include "reception/MailExport.h"
#include "reception/ReceiveEngine.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/ReceivedUids.h"
#include "support/FakePop3.h"
#include "support/TempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString kMailFolder = QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/data/mail/");
const QString kPinned = kMailFolder + QStringLiteral("pinned-records.txt");

// The notices listed as a user reads them.
struct QuietSink : reception::CheckSink {
  QStringList errors, notices;
  bool canAsk() const override { return false; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void error(const reception::CheckFailure& f) override { errors << reception::failureText(f); }
  void notice(const reception::CheckProblem& p) override { notices << reception::problemText(p); }
};

QByteArray sha(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex().left(24); }

QByteArray withBareLf(QByteArray b) { return b.replace("\r\n", "\n"); }

QByteArray headerOf(const QByteArray& raw) {
  // As the check cuts it: up to the empty line, which belongs to it.
  const qsizetype crlf = raw.indexOf("\r\n\r\n");
  const qsizetype lf = crlf < 0 ? raw.indexOf("\n\n") : raw.left(crlf).indexOf("\n\n");
  if (raw.startsWith("\r\n")) return raw.left(2);
  if (raw.startsWith('\n')) return raw.left(1);
  if (lf >= 0) return raw.left(lf + 2);
  if (crlf >= 0) return raw.left(crlf + 4);
  return raw;
}

QStringList filesIn(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

}  // namespace

TEST(GoldenRecords, EveryGoldenMessageStoresTheSameBytes) {
  TempHome home;
  AccountSettings() = AccountSettingsRecord{};
  AccountSettings().Pop3Server = QStringLiteral("pop.example");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
  auto box = std::make_shared<FakeMailbox>();
  const auto fake = FakeMailbox::install(box);
  const QString attachFolder = paths::resolve(paths::kAttachFolder);
  store::RecordFile records(paths::resolve(paths::kReceivedMailFile), store::MailRecord::kLength);

  QStringList listing;
  int recordNumber = 0;
  const QStringList names = QDir(kMailFolder).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
  ASSERT_GE(names.size(), 20);
  for (const QString& name : names) {
    QFile f(kMailFolder + name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray original = f.readAll();
    for (const bool lf : {false, true}) {
      const QByteArray raw = lf ? withBareLf(original) : original;
      listing << name + (lf ? QStringLiteral(" (LF)") : QString());
      const QStringList before = filesIn(attachFolder);
      box->messages = {{"u" + QByteArray::number(recordNumber + 1), raw}};
      QuietSink sink;
      reception::runCheck(sink);
      EXPECT_TRUE(sink.errors.isEmpty()) << name.toStdString() << ": " << sink.errors.join(u'\n').toStdString();
      ASSERT_TRUE(records.open());
      QByteArray record;
      ASSERT_EQ(records.read(++recordNumber, record), store::ReadResult::Ok) << name.toStdString();
      records.close();
      for (const QString& n : sink.notices) listing << QStringLiteral("  notice ") + n;
      listing << QStringLiteral("  record ") + QString::fromLatin1(sha(record));
      for (const QString& file : filesIn(attachFolder)) {
        if (before.contains(file)) continue;
        QFile a(QDir(attachFolder).filePath(file));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        const QByteArray bytes = a.readAll();
        listing << QStringLiteral("  file %1 %2 %3").arg(file).arg(bytes.size()).arg(QString::fromLatin1(sha(bytes)));
      }
      // The fake server lists the mail at its size with CR LF lines.
      listing << QStringLiteral("  digest ") + QString::fromLatin1(received::mailDigest(headerOf(raw), raw.size()));
      const QByteArray mbox = reception::mboxrdEntry(raw, 0);
      listing << QStringLiteral("  mbox ") + QString::fromLatin1(mbox.left(mbox.indexOf('\n')));
    }
  }
  const QString actual = listing.join(u'\n') + u'\n';
  if (qEnvironmentVariableIsSet("TOMOSHIBI_WRITE_PINNED")) {
    QFile out(kPinned);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(actual.toUtf8());
    GTEST_SKIP() << "written afresh: " << kPinned.toStdString();
  }
  QFile pinned(kPinned);
  ASSERT_TRUE(pinned.open(QIODevice::ReadOnly)) << kPinned.toStdString();
  const QStringList want = QString::fromUtf8(pinned.readAll()).split(u'\n');
  const QStringList got = actual.split(u'\n');
  for (qsizetype i = 0; i < std::max(want.size(), got.size()); ++i)
    ASSERT_EQ(got.value(i).toStdString(), want.value(i).toStdString()) << "line " << i + 1 << " of the listing";
}
