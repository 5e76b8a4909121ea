// The headless program, `tomoshibi-headless`, started by the entry for a
// send (--send), a mail check (--check), an export or an import: it loads
// only the text, settings and mail libraries, since scripts and timers run
// it again and again and loading the window libraries would cost more than
// a short check itself. A command line in error goes on to the full program
// beside this executable, in the same process, which explains it.
#include "composer/send/SendCommand.h"
#include "platform/CommandLine.h"
#include "platform/ExecBeside.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "reception/HeadlessCheck.h"
#include "reception/MailExport.h"
#include "reception/import/MailImport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {
// The full program, in the folder of this executable.
constexpr const char* kFullProgram = "tomoshibi-main";
}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (args.contains(QStringLiteral("--send")) || args.contains(QStringLiteral("--check")) ||
      args.contains(QStringLiteral("--export-mbox")) || args.contains(QStringLiteral("--import"))) {
    const CommandLine cl = parseCommandLine(args);
    // A command line in error goes on to the full program, which explains it.
    if (cl.error.isEmpty() && (cl.send || cl.check || !cl.exportMbox.isEmpty() || !cl.importPath.isEmpty()) &&
        cl.initHome.isEmpty() &&
        !cl.version) {
      QCoreApplication app(argc, argv);
      // Named from where the command was given, before --from-desktop moves.
      const QString importPath = cl.importPath.isEmpty() ? QString() : QFileInfo(cl.importPath).absoluteFilePath();
      QString error, notice;
      if (!enterProgramFolder(cl, false, &error, &notice)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
      }
      if (!notice.isEmpty()) std::fprintf(stderr, "%s\n", notice.toUtf8().constData());
      if (!cl.exportMbox.isEmpty()) return reception::RunExportMbox(cl.exportMbox);
      if (!importPath.isEmpty()) return mailimport::RunImport(importPath);
      return cl.send ? RunSendCommand(cl) : RunHeadlessCheck();
    }
  }

  return execBeside(kFullProgram, argv);
}
