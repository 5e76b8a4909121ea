// 灯火亭: a desktop mail client for one user.
#include "composer/MailtoFill.h"
#include "composer/send/SendCommand.h"
#include "platform/CommandLine.h"
#include "platform/IdleReport.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/TestHooks.h"
#include "platform/Version.h"
#include "platform/ui/AppSetup.h"
#include "platform/ui/MsgBox.h"
#include "reception/HeadlessCheck.h"
#include "reception/MailExport.h"
#include "reception/import/MailImport.h"
#include "shell/MainForm.h"
#include "shell/SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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
    std::fputs(kVersionLine, stdout);
    return 0;
  }
  if (!cl.initHome.isEmpty()) {
    // No window is needed to lay out a folder.
    QCoreApplication app(argc, argv);
    QString error;
    if (!layOutProgramFolder(cl.initHome, &error, starterFolder(executableFolder()))) {
      printLine(stderr, error);
      return 1;
    }
    if (tightenProgramFolder(cl.initHome)) printLine(stderr, tightenedText(cl.initHome));
    printLine(stdout, QStringLiteral("プログラムフォルダを用意しました: %1").arg(QDir(cl.initHome).absolutePath()));
    return 0;
  }

  if (cl.check || cl.send || !cl.exportMbox.isEmpty() || !cl.importPath.isEmpty()) {
    // No window: the receive engine, the send and the export report on
    // standard error.
    QCoreApplication app(argc, argv);
    const QString importPath = cl.importPath.isEmpty() ? QString() : QFileInfo(cl.importPath).absoluteFilePath();
    QString error, notice;
    if (!enterProgramFolder(cl, false, &error, &notice)) {
      printLine(stderr, error);
      return 1;
    }
    if (!notice.isEmpty()) printLine(stderr, notice);
    if (!cl.exportMbox.isEmpty()) return reception::RunExportMbox(cl.exportMbox);
    if (!importPath.isEmpty()) return mailimport::RunImport(importPath);
    return cl.check ? RunHeadlessCheck() : RunSendCommand(cl);
  }

  // A program already running on this folder takes the request, and this
  // start ends before it makes a window of its own.
  const QString folder = findProgramFolder(cl.home, executableFolder());
  instance::StartLock lock(folder);
  const instance::Request request = cl.mailto.isEmpty() ? instance::Request{QStringLiteral("show"), QString()}
                                                        : instance::Request{QStringLiteral("mailto"), cl.mailto};
  const instance::Handover handover = instance::handOver(folder, request);
  if (handover == instance::Handover::Taken) return 0;

  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  if (handover == instance::Handover::NoAnswer) {
    // Started from the desktop there is no terminal to read: the user is told in a box.
    lock.release();
    const QString text = QStringLiteral("灯火亭はプログラムフォルダ「%1」で起動中ですが、応答しません。\n"
                                        "起動中の灯火亭の画面を確かめて下さい。")
                             .arg(QDir::toNativeSeparators(folder));
    printLine(stderr, text);
    MsgBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
    return 1;
  }
  QString error, notice;
  if (!enterProgramFolder(cl, true, &error, &notice)) {
    MsgBox(error, MsgButtons::Ok, MsgIcon::Exclamation);
    return 1;
  }
  if (!notice.isEmpty()) MsgBox(notice, MsgButtons::Ok, MsgIcon::Information);
  instance::Server server(instance::actOnRequest);
  // Without the socket the program still runs; only later starts open a window of their own.
  server.listen(folder);
  lock.release();
  MainForm form;
  form.show();
#ifdef TOMOSHIBI_TEST_HOOKS
  if (const qint64 started = testhooks::startedAtNs()) idlereport::whenIdle(started);
#endif
  if (!cl.mailto.isEmpty()) ComposeFromMailtoLink(cl.mailto);
  return app.exec();
}
