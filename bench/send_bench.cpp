// 200 small mails sent one process each through the real `tomoshibi --send`,
// and the same 200 mails through msmtp, both to the same local aiosmtpd.
// Prints both times per round, the medians and their ratio.
// Usage: bench_send [rounds] (default 3).
#include "platform/ProgramFolder.h"
#include "reception/maillib/MimeBuild.h"
#include "support/MailServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kMails = 200;

// Runs a program (optionally reading a file on standard input) and waits.
bool run(const QStringList& args, const QString& cwd, const QString& stdinFile = QString()) {
  QList<QByteArray> storage;
  for (const QString& a : args) storage << QFile::encodeName(a);
  std::vector<char*> argv;
  for (QByteArray& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const QByteArray in = QFile::encodeName(stdinFile);
  if (!stdinFile.isEmpty()) posix_spawn_file_actions_addopen(&fa, 0, in.constData(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  const QString old = QDir::currentPath();
  QDir::setCurrent(cwd);
  pid_t pid = 0;
  int st = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) waitpid(pid, &st, 0);
  QDir::setCurrent(old);
  posix_spawn_file_actions_destroy(&fa);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

  MailServers servers;
  if (!servers.ok()) {
    std::fprintf(stderr, "mail servers: %s\n", servers.error().toUtf8().constData());
    return 1;
  }
  QTemporaryDir dir;
  const QString home = dir.path() + QStringLiteral("/home");
  QString error;
  if (!layOutProgramFolder(home, &error)) {
    std::fprintf(stderr, "%s\n", error.toUtf8().constData());
    return 1;
  }
  const QString smtp = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
  // Plain SMTP, as msmtp below: allowed as the server dialog allows it.
  writeServerSettings(home, smtp, QStringLiteral("127.0.0.1"), servers.address(), 0, true);

  // msmtp: the same server, no TLS, no login.
  const QString rc = dir.path() + QStringLiteral("/msmtprc");
  {
    QFile f(rc);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("account default\nhost 127.0.0.1\nport %1\nfrom %2\nauth off\ntls off\n")
                .arg(servers.smtpPort())
                .arg(servers.address())
                .toUtf8());
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }

  // The same small mails for both: our own message bytes for msmtp.
  QStringList subjects, bodyFiles, messageFiles;
  for (int i = 0; i < kMails; ++i) {
    const QString subject = QStringLiteral("ベンチマーク %1 通目").arg(i + 1);
    const QString body = QStringLiteral("こんにちは。%1 通目の本文です。\r\nよろしくお願いします。\r\n").arg(i + 1);
    const QString bodyFile = dir.path() + QStringLiteral("/body%1.txt").arg(i);
    QFile b(bodyFile);
    b.open(QIODevice::WriteOnly);
    b.write(body.toUtf8());
    maillib::OutgoingMail m{servers.address(), QStringLiteral("bench@example.com"), subject, body, {}};
    const QString messageFile = dir.path() + QStringLiteral("/mail%1.eml").arg(i);
    QFile e(messageFile);
    e.open(QIODevice::WriteOnly);
    e.write(maillib::buildMessage(m, nullptr).value_or(QByteArray()));
    subjects << subject;
    bodyFiles << bodyFile;
    messageFiles << messageFile;
  }
  const QString exe = QStringLiteral(TOMOSHIBI_EXE);
  std::printf("%d small mails per program and round, %d rounds, aiosmtpd on port %d\n", kMails, rounds,
              servers.smtpPort());

  QList<double> ours, theirs;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kMails; ++i)
      failures += !run({exe, QStringLiteral("--home"), home, QStringLiteral("--send"), QStringLiteral("--to"),
                        QStringLiteral("bench@example.com"), QStringLiteral("--subject"), subjects[i],
                        QStringLiteral("--body-file"), bodyFiles[i]},
                       home);
    const double a = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kMails; ++i)
      failures += !run({QStringLiteral("msmtp"), QStringLiteral("-C"), rc, QStringLiteral("bench@example.com")},
                       dir.path(), messageFiles[i]);
    const double b = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ours << a;
    theirs << b;
    std::printf("round %d: tomoshibi --send %.2f s (%.1f ms/mail), msmtp %.2f s (%.1f ms/mail), ratio %.2f\n",
                round + 1, a, a * 1000 / kMails, b, b * 1000 / kMails, a / b);
    std::fflush(stdout);
  }
  const double a = median(ours), b = median(theirs);
  const int arrived = int(servers.received().size());
  std::printf("median: tomoshibi --send %.2f s, msmtp %.2f s, ratio %.2f (target <= 0.50)\n", a, b, a / b);
  std::printf("mails accepted by the server: %d of %d, failed runs: %d\n", arrived, 2 * kMails * rounds, failures);
  return failures == 0 && arrived == 2 * kMails * rounds ? 0 : 1;
}
