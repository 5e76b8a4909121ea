#include "CommandLine.h"

CommandLine parseCommandLine(const QStringList& args) {
  CommandLine c;
  auto value = [&](qsizetype& i, const QString& name) -> QString {
    if (i + 1 >= args.size()) {
      c.error = QStringLiteral("%1 には値が必要です。").arg(name);
      return QString();
    }
    return args[++i];
  };
  for (qsizetype i = 0; i < args.size() && c.error.isEmpty(); ++i) {
    const QString& a = args[i];
    if (a == u"--home") {
      c.home = value(i, a);
    } else if (a.startsWith(u"--home=")) {
      c.home = a.mid(7);
    } else if (a == u"--init-home") {
      c.initHome = value(i, a);
    } else if (a.startsWith(u"--init-home=")) {
      c.initHome = a.mid(12);
    } else if (a == u"--version") {
      c.version = true;
    } else {
      c.error = QStringLiteral("不明な引数です: %1").arg(a);
    }
  }
  return c;
}

QString usageText() {
  return QStringLiteral(
      "使い方: tomoshibi [--home DIR]\n"
      "       tomoshibi --init-home DIR   プログラムフォルダを DIR に作る\n"
      "       tomoshibi --version         名前と版を表示する\n");
}
