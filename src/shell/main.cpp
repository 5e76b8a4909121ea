// 灯火亭: a desktop mail client for one user.
#include "composer/SendCommand.h"
#include "platform/Paths.h"
#include "reception/HeadlessCheck.h"
#include "reception/MailExport.h"
#include "shell/AppSetup.h"
#include "shell/CommandLine.h"
#include "shell/MainForm.h"
#include "shell/ProgramFolder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  return args;
}

void printLine(FILE* to, const QString& s) {
  std::fputs(s.toUtf8().constData(), to);
  std::fputc('\n', to);
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine cl = parseCommandLine(argumentsOf(argc, argv));
  if (!cl.error.isEmpty()) {
    printLine(stderr, cl.error);
    std::fputs(usageText().toUtf8().constData(), stderr);
    return 2;
  }
  if (cl.version) {
    printLine(stdout, QStringLiteral("灯火亭 (tomoshibi) 1.0"));
    return 0;
  }
  if (!cl.initHome.isEmpty()) {
    // No window is needed to lay out a folder.
    QCoreApplication app(argc, argv);
    QString error;
    if (!layOutProgramFolder(cl.initHome, &error)) {
      printLine(stderr, error);
      return 1;
    }
    printLine(stdout, QStringLiteral("プログラムフォルダを用意しました: %1").arg(QDir(cl.initHome).absolutePath()));
    return 0;
  }

  if (!cl.exportMbox.isEmpty()) {
    QCoreApplication app(argc, argv);
    if (!cl.home.isEmpty()) paths::setProgramFolder(cl.home);
    return reception::RunExportMbox(cl.exportMbox);
  }

  if (cl.check) {
    // No window: the receive engine reports on standard error.
    QCoreApplication app(argc, argv);
    if (!cl.home.isEmpty()) paths::setProgramFolder(cl.home);
    return RunHeadlessCheck();
  }

  if (cl.send) {
    // One mail and out: no window, no translations.
    QCoreApplication app(argc, argv);
    if (!cl.home.isEmpty()) paths::setProgramFolder(cl.home);
    return RunSendCommand(cl);
  }

  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  if (!cl.home.isEmpty()) paths::setProgramFolder(cl.home);
  MainForm form;
  form.show();
  return app.exec();
}
