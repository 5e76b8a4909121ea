// One mail check of 1000 mixed mails through the real `tomoshibi --check`,
// and the same 1000 mails retrieved and deleted by mpop, both from the same
// local Dovecot over STARTTLS. Prints both times, the ratio and our peak
// memory. Usage: bench_receive [rounds] (default 3; medians are compared).
#include "shell/ProgramFolder.h"
#include "support/MailServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kMails = 1000;

QByteArray iso2022jp(const QByteArray& jisKanji) { return "\x1b$B" + jisKanji + "\x1b(B"; }

// Mostly short Japanese texts; every tenth about 50 KB; every fiftieth with
// a 1 MB attachment.
QList<QByteArray> makeMails() {
  QRandomGenerator rng(20240401);
  // "こんにちは、お元気ですか。" in JIS X 0208.
  const QByteArray greeting = iso2022jp("$3$s$K$A$O!\"$*85:$$G$9$+!#");
  QList<QByteArray> mails;
  for (int i = 0; i < kMails; ++i) {
    QByteArray head = "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
                      "To: tomo@localhost\r\n"
                      "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + QByteArray::number(i) + "\r\n"
                      "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n"
                      "Message-ID: <bench" + QByteArray::number(i) + "@example.jp>\r\n"
                      "MIME-Version: 1.0\r\n";
    if (i % 50 == 25) {
      QByteArray file(1024 * 1024, Qt::Uninitialized);
      for (char& c : file) c = char(rng.bounded(256));
      QByteArray b64 = file.toBase64();
      QByteArray wrapped;
      for (qsizetype k = 0; k < b64.size(); k += 76) wrapped += b64.mid(k, 76) + "\r\n";
      mails << head + "Content-Type: multipart/mixed; boundary=\"BOUND\"\r\n\r\n"
                      "--BOUND\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + greeting + "\r\n"
                      "--BOUND\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Disposition: attachment; filename=\"data" + QByteArray::number(i) + ".bin\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" + wrapped + "--BOUND--\r\n";
    } else {
      const int lines = (i % 10 == 5) ? 1800 : 1 + int(rng.bounded(20));
      QByteArray body;
      for (int l = 0; l < lines; ++l) body += greeting + " " + QByteArray::number(l) + "\r\n";
      mails << head + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + body;
    }
  }
  return mails;
}

struct Run {
  double seconds = 0;
  double cpu = 0;  // user + system
  long maxRssKb = 0;
  int status = -1;
};

Run spawn(const QStringList& args, const QString& cwd) {
  QList<QByteArray> storage;
  for (const QString& a : args) storage << QFile::encodeName(a);
  std::vector<char*> argv;
  for (QByteArray& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  const QString old = QDir::currentPath();
  QDir::setCurrent(cwd);
  Run r;
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
    int st = 0;
    rusage ru{};
    wait4(pid, &st, 0, &ru);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.maxRssKb = ru.ru_maxrss;
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  QDir::setCurrent(old);
  return r;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

void deliverAll(MailServers& servers, const QList<QByteArray>& mails) {
  for (const QByteArray& m : mails) servers.deliver(m);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  qputenv("QT_QPA_PLATFORM", "offscreen");

  MailServers servers;
  if (!servers.ok()) {
    std::fprintf(stderr, "mail servers: %s\n", servers.error().toUtf8().constData());
    return 1;
  }
  const QList<QByteArray> mails = makeMails();
  qint64 total = 0, largest = 0;
  for (const QByteArray& m : mails) {
    total += m.size();
    largest = std::max<qint64>(largest, m.size());
  }
  std::printf("%d mails, %.1f MB in all, the largest %.2f MB; %d rounds\n", kMails, total / 1048576.0,
              largest / 1048576.0, rounds);

  QTemporaryDir work;
  const QString mpoprc = work.filePath(QStringLiteral("mpoprc"));
  {
    QFile f(mpoprc);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("account bench\nhost 127.0.0.1\nport %1\nuser %2\npassword %3\nauth user\n"
                           "tls on\ntls_starttls on\ntls_trust_file %4\n"
                           "delivery mbox %5\nkeep off\nuidls_file %6\n")
                .arg(servers.pop3Port())
                .arg(servers.user(), servers.password(), servers.caFile(), work.filePath(QStringLiteral("mbox")),
                     work.filePath(QStringLiteral("uidls")))
                .toUtf8());
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }

  QList<double> ours, theirs;
  long rss = 0;
  for (int round = 1; round <= rounds; ++round) {
    // Ours: a fresh program folder each round, so every round stores the same.
    QTemporaryDir homeDir;
    const QString home = homeDir.path();
    QString error;
    if (!layOutProgramFolder(home, &error)) {
      std::fprintf(stderr, "%s\n", error.toUtf8().constData());
      return 1;
    }
    writeServerSettings(home, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()),
                        servers.address(), 0);
    writeAccount(home, servers.user(), servers.password());
    trustTestCa(servers, home);
    deliverAll(servers, mails);
    const Run r = spawn({QStringLiteral(TOMOSHIBI_EXE), QStringLiteral("--home"), home, QStringLiteral("--check")}, home);
    const qint64 stored = QFileInfo(home + QStringLiteral("/★MAilData/plkdata2.data")).size() / 32284;
    if (r.status != 0 || stored != kMails || servers.mailboxCount() != 0) {
      std::fprintf(stderr, "tomoshibi --check failed: status %d, %lld stored, %d left on the server\n", r.status,
                   stored, servers.mailboxCount());
      return 1;
    }
    ours << r.seconds;
    rss = std::max(rss, r.maxRssKb);

    // mpop: the same mails, retrieved into an mbox and deleted.
    QFile::remove(work.filePath(QStringLiteral("mbox")));
    QFile::remove(work.filePath(QStringLiteral("uidls")));
    deliverAll(servers, mails);
    const Run m = spawn({QStringLiteral("mpop"), QStringLiteral("-C"), mpoprc, QStringLiteral("-q"), QStringLiteral("bench")},
                        work.path());
    if (m.status != 0 || servers.mailboxCount() != 0) {
      std::fprintf(stderr, "mpop failed: status %d, %d left on the server\n", m.status, servers.mailboxCount());
      return 1;
    }
    theirs << m.seconds;
    std::printf("round %d: tomoshibi %.3f s (cpu %.3f s, peak %.1f MB), mpop %.3f s (cpu %.3f s)\n", round, r.seconds,
                r.cpu, r.maxRssKb / 1024.0, m.seconds, m.cpu);
  }

  // Memory follows the largest mail, not the mailbox: a tenth of the mails
  // (the same mix) peaks about the same.
  QTemporaryDir smallHome;
  layOutProgramFolder(smallHome.path(), nullptr);
  writeServerSettings(smallHome.path(), QStringLiteral("127.0.0.1"),
                      QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), servers.address(), 0);
  writeAccount(smallHome.path(), servers.user(), servers.password());
  trustTestCa(servers, smallHome.path());
  deliverAll(servers, mails.mid(0, kMails / 10));
  const Run small = spawn({QStringLiteral(TOMOSHIBI_EXE), QStringLiteral("--home"), smallHome.path(),
                           QStringLiteral("--check")},
                          smallHome.path());

  const double a = median(ours), b = median(theirs);
  std::printf("\nmedian of %d: tomoshibi --check %.3f s, mpop %.3f s, ratio %.2f (target <= 1.00)\n", rounds, a, b,
              b > 0 ? a / b : 0.0);
  std::printf("peak RSS of tomoshibi: %.1f MB for %d mails, %.1f MB for %d mails\n", rss / 1024.0, kMails,
              small.maxRssKb / 1024.0, kMails / 10);
  return 0;
}
