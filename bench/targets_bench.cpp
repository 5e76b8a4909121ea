// The speed targets side by side, in one run: each job of the program
// against its peer on this machine (or against its bound), in alternating
// rounds. For each: the median, the spread of the rounds and the load
// average, and the target beside it. The local servers of the tests serve
// both sides; nothing leaves this machine.
// Usage: bench_targets [rounds] (default 21; at least 20 for a figure worth quoting).
// With BENCH_WRAP (say "perf record -g -o /tmp/p.data --"), the program's
// own runs go through that command, to see where their time goes.
#include "platform/ProgramFolder.h"
#include "reception/maillib/MimeBuild.h"
#include "support/MailServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr qint64 kRecordLength = 32284;
constexpr qint64 kFullFile = 32767;

qint64 nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Ran {
  double ms = 0;
  bool ok = false;
  QByteArray out;
};

// Starts a program (standard input from a file when given, standard output
// kept), waits for it and times it from the start to its end.
Ran run(const QStringList& args, const QString& cwd, const QStringList& env = {}, const QString& stdinFile = {}) {
  QList<QByteArray> storage;
  for (const QString& a : args) storage << QFile::encodeName(a);
  std::vector<char*> argv;
  for (QByteArray& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  QList<QByteArray> envStorage;
  for (char** e = environ; *e; ++e) envStorage << QByteArray(*e);
  for (const QString& e : env) envStorage << e.toUtf8();
  std::vector<char*> envp;
  for (QByteArray& s : envStorage) envp.push_back(s.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const QByteArray in = QFile::encodeName(stdinFile);
  if (!stdinFile.isEmpty()) posix_spawn_file_actions_addopen(&fa, 0, in.constData(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  const QByteArray dir = QFile::encodeName(cwd);
  posix_spawn_file_actions_addchdir_np(&fa, dir.constData());
  Ran r;
  pid_t pid = 0;
  const qint64 t0 = nowNs();
  const int spawned = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  close(out[1]);
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, n);
  close(out[0]);
  int st = -1;
  if (spawned == 0) waitpid(pid, &st, 0);
  r.ms = double(nowNs() - t0) / 1e6;
  posix_spawn_file_actions_destroy(&fa);
  r.ok = spawned == 0 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
  return r;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  if (v.isEmpty()) return 0;
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double load() {
  double l[1] = {0};
  getloadavg(l, 1);
  return l[0];
}

// A quiet machine first: up to half a minute for the load to fall below 1.
void waitForQuiet() {
  for (int i = 0; i < 30 && load() >= 1.0; ++i) std::this_thread::sleep_for(std::chrono::seconds(1));
}

struct Job {
  QString name;
  QString peer;                // empty: measured against `target` in milliseconds
  std::function<Ran()> ours;   // its figure in ms
  std::function<Ran()> theirs;
  double target = 0;           // the largest ratio (or milliseconds) allowed
};

int failures = 0;

QStringList wrapped(const QStringList& args) {
  const QString wrap = qEnvironmentVariable("BENCH_WRAP");
  return wrap.isEmpty() ? args : wrap.split(u' ', Qt::SkipEmptyParts) + args;
}

void measure(const Job& job, int rounds) {
  waitForQuiet();
  const double loadBefore = load();
  QList<double> a, b, ratios;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first, so that neither always meets a warm cache.
    Ran r, p;
    if (job.peer.isEmpty()) {
      r = job.ours();
    } else if (round % 2 == 0) {
      r = job.ours();
      p = job.theirs();
    } else {
      p = job.theirs();
      r = job.ours();
    }
    if (!r.ok || (!job.peer.isEmpty() && !p.ok)) {
      std::printf("%-44s failed in round %d%s\n", job.name.toUtf8().constData(), round + 1,
                  r.ok ? " (the peer)" : "");
      ++failures;
      return;
    }
    a << r.ms;
    if (!job.peer.isEmpty()) {
      b << p.ms;
      ratios << r.ms / p.ms;
    }
  }
  const double loadAfter = load();
  const QList<double>& spread = job.peer.isEmpty() ? a : ratios;
  const double low = *std::min_element(spread.cbegin(), spread.cend());
  const double high = *std::max_element(spread.cbegin(), spread.cend());
  const double figure = median(spread);
  const bool met = figure <= job.target;
  if (job.peer.isEmpty()) {
    std::printf("%-44s %8.1f ms (%.1f–%.1f)                    target <= %.0f ms  %s  load %.2f -> %.2f\n",
                job.name.toUtf8().constData(), figure, low, high, job.target, met ? "met" : "NOT MET", loadBefore,
                loadAfter);
  } else {
    std::printf("%-44s %8.2f x %s (%.2f–%.2f; %.1f ms against %.1f ms)  target <= %.2f x  %s  load %.2f -> %.2f\n",
                job.name.toUtf8().constData(), figure, job.peer.toUtf8().constData(), low, high, median(a), median(b),
                job.target, met ? "met" : "NOT MET", loadBefore, loadAfter);
  }
  std::fflush(stdout);
}

// A window program from its start to idle, as it reports it ("idle MS").
Ran untilIdle(const QStringList& args, const QString& folder) {
  Ran r = run(args, folder,
              {QStringLiteral("TOMOSHIBI_TEST_STARTED_NS=%1").arg(nowNs()), QStringLiteral("QT_QPA_PLATFORM=offscreen")});
  const QByteArray line = r.out.trimmed();
  r.ok = r.ok && line.startsWith("idle ");
  r.ms = line.mid(5).toDouble();
  return r;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A program folder that starts without a dialog: servers, account, the test CA.
QString programFolder(const QString& path, const MailServers& servers, bool plainSmtp) {
  QString error;
  if (!layOutProgramFolder(path, &error)) std::fprintf(stderr, "%s\n", error.toUtf8().constData());
  writeServerSettings(path, QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()),
                      QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), servers.address(), 0, plainSmtp);
  writeAccount(path, servers.user(), servers.password());
  trustTestCa(servers, path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  MailServers::Options options;
  options.smtpAuth = true;
  options.smtpStartTls = true;
  MailServers servers(options);
  if (!servers.ok()) {
    std::fprintf(stderr, "mail servers: %s\n", servers.error().toUtf8().constData());
    return 1;
  }
  QTemporaryDir dir;
  const QString exe = QStringLiteral(TOMOSHIBI_EXE);
  std::printf("%d rounds per job; Dovecot POP3 on %d, aiosmtpd on %d, both with STARTTLS; %d cores\n", rounds,
              servers.pop3Port(), servers.smtpPort(), int(std::thread::hardware_concurrency()));

  QList<Job> jobs;

  // The window: from the start of `tomoshibi` to the main window idle, with
  // an empty received-mail file and with a full one (sparse: the start reads
  // only its length).
  for (const bool full : {false, true}) {
    const QString home = programFolder(dir.filePath(full ? u"full"_qs : u"empty"_qs), servers, false);
    QFile data(home + QStringLiteral("/★MAilData/plkdata2.data"));
    if (!data.open(QIODevice::ReadWrite) || !data.resize(full ? kFullFile * kRecordLength : 0)) {
      std::fprintf(stderr, "cannot lay out %s\n", qPrintable(data.fileName()));
      return 1;
    }
    data.close();
    jobs << Job{full ? u"main window to idle, 32767 records"_qs : u"main window to idle, no records"_qs, {},
                [exe, home] { return untilIdle({exe, QStringLiteral("--home"), home}, home); },
                {}, 50};
  }

  // What Qt alone takes: an empty window with the same Japanese user
  // interface, in a program of Qt's libraries only (the linker keeps no
  // library it does not call).
  jobs << Job{u"for comparison: an empty Qt window"_qs, {},
              [&dir] { return untilIdle({QStringLiteral(EMPTY_WINDOW)}, dir.path()); },
              {}, 50};

  jobs << Job{u"--version"_qs, u"msmtp"_qs, [exe, &dir] { return run({exe, QStringLiteral("--version")}, dir.path()); },
              [&dir] { return run({QStringLiteral("msmtp"), QStringLiteral("--version")}, dir.path()); }, 2.0};

  // An empty mailbox: start, STARTTLS, login, QUIT.
  const QString checkHome = programFolder(dir.filePath(u"check"_qs), servers, false);
  const QString mpoprc = dir.filePath(u"mpoprc"_qs);
  writeFile(mpoprc, QStringLiteral("account bench\nhost 127.0.0.1\nport %1\nuser %2\npassword %3\nauth user\n"
                                   "tls on\ntls_starttls on\ntls_trust_file %4\n"
                                   "delivery mbox %5\nkeep off\nuidls_file %6\n")
                        .arg(servers.pop3Port())
                        .arg(servers.user(), servers.password(), servers.caFile(), dir.filePath(u"mbox"_qs),
                             dir.filePath(u"uidls"_qs))
                        .toUtf8());
  QFile::setPermissions(mpoprc, QFile::ReadOwner | QFile::WriteOwner);
  jobs << Job{u"empty mailbox check"_qs, u"mpop"_qs,
              [exe, checkHome] { return run(wrapped({exe, QStringLiteral("--home"), checkHome, QStringLiteral("--check")}), checkHome); },
              [mpoprc, &dir] {
                return run({QStringLiteral("mpop"), QStringLiteral("-C"), mpoprc, QStringLiteral("-q"), QStringLiteral("bench")},
                           dir.path());
              },
              1.0};

  // One small Japanese mail per process, STARTTLS and AUTH PLAIN.
  const QString sendHome = programFolder(dir.filePath(u"send"_qs), servers, false);
  const QString subject = QStringLiteral("ベンチマークの便り");
  const QString body = QStringLiteral("こんにちは。速さを測るための便りです。\r\nよろしくお願いします。\r\n");
  const QString bodyFile = dir.filePath(u"body.txt"_qs);
  writeFile(bodyFile, body.toUtf8());
  const QString eml = dir.filePath(u"mail.eml"_qs);
  writeFile(eml, maillib::buildMessage({servers.address(), servers.address(), subject, body, {}}, nullptr)
                     .value_or(QByteArray()));
  jobs << Job{u"send one mail (one process)"_qs, u"curl"_qs,
              [exe, sendHome, subject, bodyFile, &servers] {
                return run(wrapped({exe, QStringLiteral("--home"), sendHome, QStringLiteral("--send"),
                                    QStringLiteral("--to"), servers.address(), QStringLiteral("--subject"), subject,
                                    QStringLiteral("--body-file"), bodyFile}),
                           sendHome);
              },
              [eml, &servers, &dir] {
                return run({QStringLiteral("curl"), QStringLiteral("-sS"),
                            QStringLiteral("smtp://127.0.0.1:%1").arg(servers.smtpPort()), QStringLiteral("--ssl-reqd"),
                            QStringLiteral("--cacert"), servers.caFile(), QStringLiteral("--user"),
                            servers.user() + u':' + servers.password(), QStringLiteral("--mail-from"),
                            servers.address(), QStringLiteral("--mail-rcpt"), servers.address(),
                            QStringLiteral("--upload-file"), eml},
                           dir.path());
              },
              1.0};

  for (const Job& job : jobs) measure(job, rounds);
  return failures == 0 ? 0 : 1;
}
