// One running program per program folder: later starts hand their request
// over through the local socket.
#include "platform/SharedState.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "shell/SingleInstance.h"
#include "shell/TaikiForm.h"
#include "support/Gui.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QAction>
#include <future>
#include <memory>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A private runtime folder of the test's own, so that no other run meets it.
class Runtime {
 public:
  Runtime() : old_(qgetenv("XDG_RUNTIME_DIR")) {
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
  }
  ~Runtime() {
    if (old_.isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", old_);
  }
  QString path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  QByteArray old_;
};

// Hands a request over from another thread, as a second start would, while
// this thread runs the event loop of the running program.
instance::Handover handOverWhilePumping(const QString& folder, const instance::Request& r, int timeoutMs = 3000) {
  auto result = std::async(std::launch::async, [&] { return instance::handOver(folder, r, timeoutMs); });
  while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) pump(10);
  pump(50);  // the request runs after the starter has been answered
  return result.get();
}

}  // namespace

TEST(SingleInstance, ARunningProgramTakesRequestsForItsFolderOnly) {
  Runtime runtime;
  TempHome home;
  QTemporaryDir other;
  EXPECT_EQ(instance::handOver(home.path(), {QStringLiteral("show"), QString()}), instance::Handover::NoneRunning);

  QList<instance::Request> taken;
  instance::Server server([&](const instance::Request& r) { taken << r; });
  ASSERT_TRUE(server.listen(home.path()));
  const QString socket = instance::socketPath(home.path());
  EXPECT_TRUE(socket.startsWith(runtime.path() + u'/'));
  // Another spelling of the same folder meets the same program.
  const QString link = other.filePath(QStringLiteral("link"));
  ASSERT_TRUE(QFile::link(home.path(), link));
  EXPECT_EQ(instance::socketPath(link + QStringLiteral("/.")), socket);
  EXPECT_NE(instance::socketPath(other.path()), socket);

  const QString mailto = QStringLiteral("mailto:a@example.jp?subject=") + QString(20000, u'あ');
  EXPECT_EQ(handOverWhilePumping(link, {QStringLiteral("mailto"), mailto}), instance::Handover::Taken);
  EXPECT_EQ(handOverWhilePumping(home.path(), {QStringLiteral("show"), QString()}), instance::Handover::Taken);
  EXPECT_EQ(instance::handOver(other.path(), {QStringLiteral("show"), QString()}), instance::Handover::NoneRunning);
  ASSERT_EQ(taken.size(), 2);
  EXPECT_EQ(taken[0].verb, QStringLiteral("mailto"));
  EXPECT_EQ(taken[0].text, mailto);
  EXPECT_EQ(taken[1].verb, QStringLiteral("show"));
  // Only its owner may connect.
  struct stat st;
  ASSERT_EQ(::lstat(QFile::encodeName(socket).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(SingleInstance, StrangersAndLeftoverSocketsAreNoRequest) {
  Runtime runtime;
  TempHome home;
  // A socket file left by a program that was killed: nobody listens.
  const QByteArray path = QFile::encodeName(instance::socketPath(home.path()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  EXPECT_EQ(instance::handOver(home.path(), {QStringLiteral("show"), QString()}), instance::Handover::NoneRunning);

  QList<instance::Request> taken;
  instance::Server server([&](const instance::Request& r) { taken << r; });
  ASSERT_TRUE(server.listen(home.path()));  // the leftover is replaced
  // Talk that is not a request, and a request that claims too much, are dropped.
  for (const QByteArray& junk :
       {QByteArray("GET / HTTP/1.0\r\n\r\n"), QByteArray("TOMOSHIBI/1 rm 0\n"),
        QByteArray("TOMOSHIBI/1 mailto 99999999\n"), QByteArray(200, 'x')}) {
    QLocalSocket s;
    s.connectToServer(QFile::decodeName(path));
    ASSERT_TRUE(s.waitForConnected(1000));
    s.write(junk);
    s.flush();
    for (int i = 0; i < 50 && s.state() == QLocalSocket::ConnectedState; ++i) {
      pump(10);
      s.waitForDisconnected(10);
    }
    EXPECT_NE(s.state(), QLocalSocket::ConnectedState) << junk.left(30).constData();
    EXPECT_FALSE(s.readAll().startsWith("OK"));
  }
  pump(50);
  EXPECT_TRUE(taken.isEmpty());
  // The program still takes a real request afterwards.
  EXPECT_EQ(handOverWhilePumping(home.path(), {QStringLiteral("show"), QString()}), instance::Handover::Taken);
  EXPECT_EQ(taken.size(), 1);
}

TEST(SingleInstance, ARequestDuringAWindowCheckWaitsForItsEnd) {
  Runtime runtime;
  TempHome home;
  QList<instance::Request> taken;
  instance::Server server([&](const instance::Request& r) { taken << r; });
  ASSERT_TRUE(server.listen(home.path()));
  // The check holds back the user's input: the starter is answered, the
  // link waits.
  shared::CheckRunning = true;
  EXPECT_EQ(handOverWhilePumping(home.path(), {QStringLiteral("mailto"), QStringLiteral("mailto:a@example.jp")}),
            instance::Handover::Taken);
  pump(400);
  EXPECT_TRUE(taken.isEmpty());
  shared::CheckRunning = false;
  pump(400);
  ASSERT_EQ(taken.size(), 1);
  EXPECT_EQ(taken[0].text, QStringLiteral("mailto:a@example.jp"));
}

TEST(SingleInstance, AMenuStartBringsForwardTheWindowInView) {
  TempHome home;
  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("id"), QStringLiteral("pw"), true));
  auto form = std::make_unique<MainForm>();
  form->show();
  pump();
  form->showMinimized();
  instance::actOnRequest({QStringLiteral("show"), QString()});
  EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
  // Standing by, the clock is the window in view: the hidden main window stays hidden.
  form->mtaiki->trigger();
  pump();
  TaikiForm* standby = TaikiForm::existing();
  ASSERT_NE(standby, nullptr);
  standby->showMinimized();
  instance::actOnRequest({QStringLiteral("show"), QString()});
  EXPECT_FALSE(standby->windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(form->isVisible());
  delete TaikiForm::existing();
  pump();
}

TEST(SingleInstance, AProgramThatNeverAnswersIsNotTakenForOne) {
  Runtime runtime;
  TempHome home;
  // Listening, but its event loop never runs: a hung program.
  const QByteArray path = QFile::encodeName(instance::socketPath(home.path()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(instance::handOver(home.path(), {QStringLiteral("show"), QString()}, 300), instance::Handover::NoAnswer);
  EXPECT_LT(t.elapsed(), 2000);
  ::close(fd);
}
