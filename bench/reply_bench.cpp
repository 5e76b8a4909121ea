// The reply window and the face-mark picker with the largest texts they
// can meet: a received mail whose body fills its record field (32000 bytes)
// answered with "本文に貼付", and a collection of 20000 face marks opened,
// inserted from and written back.
//
//   bench_reply
#include "composer/BackForm.h"
#include "facemarks/KaoForm.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "platform/ui/AppSetup.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCursor>
#include <cstdio>

namespace {

void say(const QString& s) {
  std::fputs(s.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

void settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  QTemporaryDir dir;
  QString error;
  if (!dir.isValid() || !layOutProgramFolder(dir.path(), &error)) {
    say(QStringLiteral("cannot lay out a program folder: %1").arg(error));
    return 1;
  }
  paths::setProgramFolder(dir.path());
  QDir::setCurrent(dir.path());

  QString body;
  for (int i = 0; body.size() < 32000; ++i) body += QStringLiteral("%1行目：受信したメールの本文①㈱～\r\n").arg(i);
  QElapsedTimer t;

  t.start();
  BackForm* reply = BackForm::instance();
  settle();
  say(QStringLiteral("reply window opened: %1 ms").arg(ms(t), 0, 'f', 1));
  reply->AnsweredBody = body.left(32000);  // as the viewer hands it over
  t.restart();
  reply->BodyText->setPlainText(text::trimSpaces(body));
  settle();
  say(QStringLiteral("32000-character body filled: %1 ms").arg(ms(t), 0, 'f', 1));
  QApplication::clipboard()->setText(QStringLiteral("ご返事です。"));
  for (int i = 1; i <= 2; ++i) {
    t.restart();
    reply->Command4->click();
    settle();
    say(QStringLiteral("本文に貼付 #%1 (%2 characters): %3 ms").arg(i).arg(reply->BodyText->toPlainText().size()).arg(ms(t), 0, 'f', 1));
  }

  QString marks;
  for (int i = 0; i < 20000; ++i) marks += QStringLiteral("(^_^)%1 ①㈱～ 顔文字\r\n").arg(i);
  {
    QFile f(paths::resolve(paths::kFaceMarkFile));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    f.write(text::encodeText(marks, text::FileEncoding::Cp932));
  }
  say(QStringLiteral("face-mark file: %1 bytes").arg(QFileInfo(paths::resolve(paths::kFaceMarkFile)).size()));
  t.restart();
  KaoForm* k = KaoForm::showPicker();
  settle();
  say(QStringLiteral("picker opened: %1 ms").arg(ms(t), 0, 'f', 1));
  t.restart();
  k->close();
  settle();
  say(QStringLiteral("picker closed unchanged: %1 ms").arg(ms(t), 0, 'f', 1));
  k = KaoForm::showPicker();
  settle();
  QTextCursor c = k->Kao1->textCursor();
  c.setPosition(0);
  c.setPosition(5, QTextCursor::KeepAnchor);
  k->Kao1->setTextCursor(c);
  t.restart();
  k->Command2->click();
  settle();
  say(QStringLiteral("face mark inserted, collection unchanged: %1 ms").arg(ms(t), 0, 'f', 1));
  k = KaoForm::showPicker();
  settle();
  k->Kao1->moveCursor(QTextCursor::End);
  k->Kao1->insertPlainText(QStringLiteral("(^o^)/"));
  t.restart();
  k->close();
  settle();
  say(QStringLiteral("picker closed after an edit (file written): %1 ms").arg(ms(t), 0, 'f', 1));
  reply->close();
  settle();
  return 0;
}
