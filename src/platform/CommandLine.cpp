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
    } else if (a == u"--from-desktop") {
      c.fromDesktop = true;
    } else if (a.startsWith(u"mailto:", Qt::CaseInsensitive)) {
      if (!c.mailto.isEmpty()) c.error = QStringLiteral("mailto: のリンクは１つだけ指定できます。");
      c.mailto = a;
    } else if (a == u"--check") {
      c.check = true;
    } else if (a == u"--export-mbox") {
      c.exportMbox = value(i, a);
      if (c.exportMbox.isEmpty() && c.error.isEmpty()) c.error = QStringLiteral("%1 には値が必要です。").arg(a);
    } else if (a == u"--import") {
      c.importPath = value(i, a);
      if (c.importPath.isEmpty() && c.error.isEmpty()) c.error = QStringLiteral("%1 には値が必要です。").arg(a);
    } else if (a == u"--send") {
      c.send = true;
    } else if (a == u"--to") {
      c.to = value(i, a);
      c.toGiven = true;
    } else if (a == u"--subject") {
      c.subject = value(i, a);
      c.subjectGiven = true;
    } else if (a == u"--body-file") {
      c.bodyFile = value(i, a);
      c.bodyGiven = true;
    } else if (a == u"--attach") {
      const QString v = value(i, a);
      c.attach += (c.attach.isEmpty() || v.isEmpty() ? QString() : QStringLiteral(",")) + v;
    } else {
      c.error = QStringLiteral("不明な引数です: %1").arg(a);
    }
  }
  if (c.error.isEmpty() && c.send && !(c.toGiven && c.subjectGiven && c.bodyGiven))
    c.error = QStringLiteral("--send には --to、--subject、--body-file が必要です。");
  if (c.error.isEmpty() && !c.send && (c.toGiven || c.subjectGiven || c.bodyGiven || !c.attach.isEmpty()))
    c.error = QStringLiteral("--to、--subject、--body-file、--attach は --send と一緒に使います。");
  if (c.error.isEmpty() && !c.mailto.isEmpty() && (c.send || c.check || !c.initHome.isEmpty() || !c.exportMbox.isEmpty() ||
                                                  !c.importPath.isEmpty()))
    c.error = QStringLiteral("mailto: のリンクは --check、--send、--init-home、--export-mbox、--import と一緒には使えません。");
  return c;
}

QString usageText() {
  return QStringLiteral(
      "使い方: tomoshibi [--home DIR] [--from-desktop] [mailto:リンク]\n"
      "       tomoshibi --init-home DIR   プログラムフォルダを DIR に作る\n"
      "       tomoshibi --version         名前と版を表示する\n"
      "       --from-desktop              プログラムフォルダをカレントフォルダにしてから始める（pelkit.ini もそこ）\n"
      "       mailto:リンク               「新規作成」を宛先・件名・本文を入れて開く（起動中ならその画面で）\n"
      "       tomoshibi [--home DIR] --check  メールを１回受信する（画面なし。状況は標準エラー出力へ。\n"
      "                                   終了コード: 0 正常、1 失敗、75 別の受信が実行中）\n"
      "       tomoshibi [--home DIR] --export-mbox FILE  受信メールの原文を全て mbox ファイルに書き出す\n"
      "       tomoshibi [--home DIR] --import FILE|FOLDER  mbox・.eml ファイルか Maildir フォルダのメールを取り込む\n"
      "                                   （終了コード: 0 正常、1 取り込めないメールあり、75 受信が実行中）\n"
      "       tomoshibi [--home DIR] --send --to ADDRESS --subject TEXT --body-file FILE [--attach PATH,PATH...]\n"
      "                                   メールを１通送信する（サーバーと差出人はカレントフォルダの pelkit.ini）\n");
}
