// Text files in the body boxes: opening a large CP932 and a large UTF-8
// file into a compose body (detection, decoding, line ends, the box), and
// saving it back (the file's encoding looked up, the characters CP932
// lacks looked for, the write made durable), with and without a character
// CP932 cannot hold. The files go to a temporary folder that is removed.
//
//   bench_textfile [MEGABYTES]   size of each file (default: 4)
#include "platform/Text.h"
#include "platform/TextProcedures.h"
#include "platform/ui/BodyBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void say(const QString& s) {
  std::fputs(s.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

// Japanese prose with the marks that must survive, line after line.
QString prose(qsizetype bytesInCp932) {
  const QString line = QStringLiteral("灯火亭の帳場で①番の手紙を読む。㈱灯火の案内は１０時～１２時、ｱｲｳｴｵ、ABC abc。\r\n");
  const qsizetype perLine = text::toCp932(line).size();
  QString s;
  s.reserve(line.size() * (bytesInCp932 / perLine + 1));
  for (qsizetype n = 0; n < bytesInCp932; n += perLine) s += line;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int mb = argc > 1 ? std::max(1, atoi(argv[1])) : 4;
  QTemporaryDir dir;
  const QString body = prose(qsizetype(mb) << 20);
  const struct {
    const char* name;
    QByteArray bytes;
  } files[] = {{"cp932.txt", text::toCp932(body)}, {"utf8.txt", body.toUtf8()}};

  QWidget window;
  QPlainTextEdit edit(&window);
  PlainTextBox box(&edit, &window);
  for (const auto& f : files) {
    const QString path = dir.filePath(QString::fromLatin1(f.name));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(f.bytes) != f.bytes.size()) return 1;
    out.close();

    QElapsedTimer t;
    t.start();
    const QString read = textproc::readTextLines(path, nullptr).value_or(QString());
    const double readMs = ms(t);
    t.restart();
    textproc::OpenTextIntoBody(box, [&] { return path; });
    const double openMs = ms(t);
    if (read != body) say(QStringLiteral("%1: read back wrong").arg(QString::fromLatin1(f.name)));

    const textproc::AskLossy keep = [](const QString&, const QString&) { return textproc::LossyChoice::Utf8; };
    t.restart();
    const QString missing = text::cp932Missing(body);
    const double scanMs = ms(t);
    t.restart();
    textproc::writeDocument(path, body, keep, nullptr);
    const double saveMs = ms(t);
    // One emoji at the very end: every character is looked at.
    const QString lossy = body + QStringLiteral("😀");
    t.restart();
    const QString lost = text::cp932Missing(lossy);
    const double lossyScanMs = ms(t);
    say(QStringLiteral("%1 (%2 MB, %3 lines): read %4 ms, open into the body %5 ms, save %6 ms; "
                       "CP932 check %7 ms (nothing lost), %8 ms (one emoji at the end: %9)")
            .arg(QString::fromLatin1(f.name))
            .arg(double(f.bytes.size()) / (1 << 20), 0, 'f', 1)
            .arg(body.count(u'\n'))
            .arg(readMs, 0, 'f', 1)
            .arg(openMs, 0, 'f', 1)
            .arg(saveMs, 0, 'f', 1)
            .arg(scanMs, 0, 'f', 1)
            .arg(lossyScanMs, 0, 'f', 1)
            .arg(missing.isEmpty() && lost == QStringLiteral("😀") ? QStringLiteral("found") : QStringLiteral("WRONG")));
  }
  return 0;
}
