// One mail check of 1000 mails through the real `tomoshibi --check`, side by
// side with mpop retrieving and deleting the same mails into a Maildir (or
// an mbox) and with the floor client (pop3_floor: the least a safe client
// does), all from the same local Dovecot over STARTTLS, taking turns.
// Prints each round, the medians and the spread of the ratios (to the floor
// beside its target), CPU times and peak memory; then the peak memory of
// checks whose largest mail is 10 MB and 50 MB against an empty check.
//
// Usage: bench_receive [rounds] [mixed|small|memory|all] [maildir|mbox]
//   mixed:  mostly short Japanese texts, every tenth about 50 KB, every
//           fiftieth with a 1 MB attachment
//   small:  1000 short Japanese texts
// Peak memory is taken with /usr/bin/time around the program: a process
// started with posix_spawn otherwise reports the spawning process's size.
#include "platform/ProgramFolder.h"
#include "support/MailServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMails = 1000;

QByteArray iso2022jp(const QByteArray& jisKanji) { return "\x1b$B" + jisKanji + "\x1b(B"; }

QByteArray headOf(int i) {
  return "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
         "To: tomo@localhost\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + QByteArray::number(i) + "\r\n"
         "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n"
         "Message-ID: <bench" + QByteArray::number(i) + "@example.jp>\r\n"
         "MIME-Version: 1.0\r\n";
}

QByteArray withFile(const QByteArray& head, const QByteArray& text, const QByteArray& file, int i) {
  const QByteArray b64 = file.toBase64();
  QByteArray wrapped;
  for (qsizetype k = 0; k < b64.size(); k += 76) wrapped += b64.mid(k, 76) + "\r\n";
  return head + "Content-Type: multipart/mixed; boundary=\"BOUND\"\r\n\r\n"
                "--BOUND\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + text + "\r\n"
                "--BOUND\r\nContent-Type: application/octet-stream\r\n"
                "Content-Disposition: attachment; filename=\"data" + QByteArray::number(i) + ".bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" + wrapped + "--BOUND--\r\n";
}

QByteArray randomBytes(QRandomGenerator& rng, qsizetype n) {
  QByteArray b(n, Qt::Uninitialized);
  for (char& c : b) c = char(rng.bounded(256));
  return b;
}

// "こんにちは、お元気ですか。" in JIS X 0208.
const QByteArray kGreeting = iso2022jp("$3$s$K$A$O!\"$*85:$$G$9$+!#");

QList<QByteArray> mixedMails() {
  QRandomGenerator rng(20240401);
  QList<QByteArray> mails;
  for (int i = 0; i < kMails; ++i) {
    const QByteArray head = headOf(i);
    if (i % 50 == 25) {
      mails << withFile(head, kGreeting, randomBytes(rng, 1024 * 1024), i);
    } else {
      const int lines = (i % 10 == 5) ? 1800 : 1 + int(rng.bounded(20));
      QByteArray body;
      for (int l = 0; l < lines; ++l) body += kGreeting + " " + QByteArray::number(l) + "\r\n";
      mails << head + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + body;
    }
  }
  return mails;
}

QList<QByteArray> smallMails() {
  QRandomGenerator rng(20240402);
  QList<QByteArray> mails;
  for (int i = 0; i < kMails; ++i) {
    QByteArray body;
    const int lines = 3 + int(rng.bounded(20));
    for (int l = 0; l < lines; ++l) body += kGreeting + " " + QByteArray::number(l) + "\r\n";
    mails << headOf(i) + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + body;
  }
  return mails;
}

struct Run {
  double seconds = 0;
  double cpu = 0;  // user + system
  double peakMb = 0;
  int status = -1;
};

// `args` under /usr/bin/time, which reports the program's own peak.
Run timed(const QStringList& args, const QString& cwd) {
  QTemporaryDir tmp;
  const QString report = tmp.filePath(QStringLiteral("time"));
  QProcess p;
  p.setWorkingDirectory(cwd);
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setStandardErrorFile(QProcess::nullDevice());
  const auto t0 = std::chrono::steady_clock::now();
  p.start(QStringLiteral("/usr/bin/time"),
          QStringList{QStringLiteral("-o"), report, QStringLiteral("-f"), QStringLiteral("%M %U %S %x")} + args);
  p.waitForFinished(-1);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  QFile f(report);
  if (f.open(QIODevice::ReadOnly)) {
    const QList<QByteArray> w = f.readAll().trimmed().split('\n').last().split(' ');
    if (w.size() == 4) {
      r.peakMb = w[0].toDouble() / 1024;
      r.cpu = w[1].toDouble() + w[2].toDouble();
      r.status = w[3].toInt();
    }
  }
  return r;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

class Bench {
 public:
  explicit Bench(MailServers& s) : servers_(s) {}

  // A fresh program folder for one check.
  QString home(QTemporaryDir& dir) {
    QString error;
    if (!layOutProgramFolder(dir.path(), &error)) std::fprintf(stderr, "%s\n", error.toUtf8().constData());
    writeServerSettings(dir.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers_.pop3Port()),
                        servers_.address(), 0);
    writeAccount(dir.path(), servers_.user(), servers_.password());
    trustTestCa(servers_, dir.path());
    return dir.path();
  }

  Run ours(const QList<QByteArray>& mails) {
    QTemporaryDir dir;
    const QString h = home(dir);
    for (const QByteArray& m : mails) servers_.deliver(m);
    // BENCH_WRAP (say "perf record -g -o /tmp/p.data --") runs the check through that command.
    const QStringList wrap = qEnvironmentVariable("BENCH_WRAP").split(u' ', Qt::SkipEmptyParts);
    Run r = timed(wrap + QStringList{QStringLiteral(TOMOSHIBI_EXE), QStringLiteral("--home"), h, QStringLiteral("--check")}, h);
    const qint64 stored = QFileInfo(h + QStringLiteral("/★MAilData/plkdata2.data")).size() / 32284;
    if (r.status != 0 || stored != mails.size() || servers_.mailboxCount() != 0) {
      std::fprintf(stderr, "tomoshibi --check failed: status %d, %lld stored, %d left on the server\n", r.status,
                   stored, servers_.mailboxCount());
      r.status = -1;
    }
    return r;
  }

  Run mpop(const QList<QByteArray>& mails, const QString& delivery) {
    QTemporaryDir work;
    const QString target = work.filePath(delivery == u"maildir" ? u"Maildir"_qs : u"mbox"_qs);
    if (delivery == u"maildir")
      for (const char* sub : {"/tmp", "/new", "/cur"}) QDir().mkpath(target + QLatin1String(sub));
    const QString rc = work.filePath(QStringLiteral("mpoprc"));
    QFile f(rc);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("account bench\nhost 127.0.0.1\nport %1\nuser %2\npassword %3\nauth user\n"
                           "tls on\ntls_starttls on\ntls_trust_file %4\n"
                           "delivery %5 %6\nkeep off\nuidls_file %7\n")
                .arg(servers_.pop3Port())
                .arg(servers_.user(), servers_.password(), servers_.caFile(), delivery, target,
                     work.filePath(QStringLiteral("uidls")))
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    for (const QByteArray& m : mails) servers_.deliver(m);
    Run r = timed({QStringLiteral("mpop"), QStringLiteral("-C"), rc, QStringLiteral("-q"), QStringLiteral("bench")},
                  work.path());
    if (r.status != 0 || servers_.mailboxCount() != 0) {
      std::fprintf(stderr, "mpop failed: status %d, %d left on the server\n", r.status, servers_.mailboxCount());
      r.status = -1;
    }
    return r;
  }

  Run floor(const QList<QByteArray>& mails) {
    QTemporaryDir work;
    for (const QByteArray& m : mails) servers_.deliver(m);
    Run r = timed({QStringLiteral(POP3_FLOOR), QStringLiteral("127.0.0.1"), QString::number(servers_.pop3Port()),
                   servers_.user(), servers_.password(), servers_.caFile(), work.filePath(QStringLiteral("mail"))},
                  work.path());
    if (r.status != 0 || servers_.mailboxCount() != 0) {
      std::fprintf(stderr, "pop3_floor failed: status %d, %d left on the server\n", r.status, servers_.mailboxCount());
      r.status = -1;
    }
    return r;
  }

  bool compare(const char* name, const QList<QByteArray>& mails, int rounds, const QString& delivery,
               double floorTarget) {
    qint64 total = 0, largest = 0;
    for (const QByteArray& m : mails) {
      total += m.size();
      largest = std::max<qint64>(largest, m.size());
    }
    std::printf("\n%s: %lld mails, %.1f MB in all, the largest %.2f MB; mpop into a %s; %d rounds\n", name,
                qlonglong(mails.size()), total / 1048576.0, largest / 1048576.0, delivery.toUtf8().constData(), rounds);
    QList<double> a, b, c, ratios, floorRatios, cpuA, cpuB;
    double peak = 0;
    for (int round = 1; round <= rounds; ++round) {
      // Taking turns at going first, so that none always meets a warm server.
      Run r, m, f;
      for (int turn = 0; turn < 3; ++turn) {
        switch ((round + turn) % 3) {
          case 0: r = ours(mails); break;
          case 1: m = mpop(mails, delivery); break;
          default: f = floor(mails); break;
        }
      }
      if (r.status != 0 || m.status != 0 || f.status != 0) return false;
      c << f.seconds;
      floorRatios << r.seconds / f.seconds;
      a << r.seconds;
      b << m.seconds;
      ratios << r.seconds / m.seconds;
      cpuA << r.cpu;
      cpuB << m.cpu;
      peak = std::max(peak, r.peakMb);
      std::printf("  round %d: tomoshibi %.3f s (cpu %.3f s, peak %.1f MB), mpop %.3f s (cpu %.3f s), floor %.3f s; "
                  "ratio %.2f to mpop, %.2f to the floor\n",
                  round, r.seconds, r.cpu, r.peakMb, m.seconds, m.cpu, f.seconds, r.seconds / m.seconds,
                  r.seconds / f.seconds);
    }
    std::printf("  median: tomoshibi %.3f s, mpop %.3f s; median ratio %.2f (spread %.2f–%.2f); cpu %.3f s against %.3f s; "
                "peak %.1f MB (largest mail %.2f MB)\n",
                median(a), median(b), median(ratios), *std::min_element(ratios.cbegin(), ratios.cend()),
                *std::max_element(ratios.cbegin(), ratios.cend()), median(cpuA), median(cpuB), peak,
                largest / 1048576.0);
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("  %s check against the floor: median %.2f x (spread %.2f–%.2f; floor %.3f s)  target <= %.2f x  %s  "
                "load %.2f\n",
                name, median(floorRatios), *std::min_element(floorRatios.cbegin(), floorRatios.cend()),
                *std::max_element(floorRatios.cbegin(), floorRatios.cend()), median(c), floorTarget,
                median(floorRatios) <= floorTarget ? "met" : "NOT MET", load[0]);
    return true;
  }

  void memory() {
    std::printf("\npeak memory against the largest mail:\n");
    const Run empty = ours({});
    std::printf("  empty mailbox: %.1f MB\n", empty.peakMb);
    QRandomGenerator rng(7);
    struct Case {
      const char* name;
      QByteArray mail;
    };
    QByteArray longText;
    for (int l = 0; longText.size() < 10 * 1024 * 1024; ++l) longText += kGreeting + " " + QByteArray::number(l) + "\r\n";
    const QList<Case> cases{
        {"10 MB mail (7.5 MB attachment)", withFile(headOf(1), kGreeting, randomBytes(rng, 7680 * 1024), 1)},
        {"50 MB mail (37.5 MB attachment)", withFile(headOf(2), kGreeting, randomBytes(rng, 38400 * 1024), 2)},
        {"10 MB Japanese text mail",
         headOf(3) + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + longText},
    };
    for (const Case& c : cases) {
      const Run r = ours({headOf(0) + "Content-Type: text/plain\r\n\r\nsmall\r\n", c.mail});
      const double mb = c.mail.size() / 1048576.0;
      std::printf("  %s (%.2f MB): peak %.1f MB = %.2f bytes per byte above the empty check; limit 3 x %.2f + 40 = %.1f MB\n",
                  c.name, mb, r.peakMb, (r.peakMb - empty.peakMb) / mb, mb, 3 * mb + 40);
    }
    // Mails just under the size up to which storing one overlaps reading
    // the next: the most a check holds at once.
    QList<QByteArray> overlapping;
    for (int i = 0; i < 6; ++i) overlapping << withFile(headOf(10 + i), kGreeting, randomBytes(rng, 5900 * 1024), 10 + i);
    const Run r = ours(overlapping);
    const double mb = overlapping[0].size() / 1048576.0;
    std::printf("  six mails of %.2f MB in a row (stored while the next come): peak %.1f MB = %.2f bytes per byte of "
                "the largest above the empty check; limit 3 x %.2f + 40 = %.1f MB\n",
                mb, r.peakMb, (r.peakMb - empty.peakMb) / mb, mb, 3 * mb + 40);
  }

 private:
  MailServers& servers_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  const QString what = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("all");
  const QString delivery = argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("maildir");
  MailServers servers;
  if (!servers.ok()) {
    std::fprintf(stderr, "mail servers: %s\n", servers.error().toUtf8().constData());
    return 1;
  }
  Bench bench(servers);
  bool ok = true;
  if (what == u"mixed" || what == u"all") ok = bench.compare("mixed", mixedMails(), rounds, delivery, 1.05) && ok;
  if (what == u"small" || what == u"all") ok = bench.compare("small", smallMails(), rounds, delivery, 1.5) && ok;
  if (what == u"memory" || what == u"all") bench.memory();
  return ok ? 0 : 1;
}
