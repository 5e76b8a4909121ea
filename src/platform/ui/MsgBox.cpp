#include "MsgBox.h"

#include "platform/TestHooks.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

namespace {
bool g_console = false;
}

void setMsgBoxConsoleMode(bool on) { g_console = on; }
bool msgBoxConsoleMode() { return g_console; }

MsgResult MsgBox(const QString& prompt, MsgButtons buttons, MsgIcon icon, const QString& title) {
  if (g_console) {
    const QByteArray line = (title.isEmpty() ? prompt : title + QStringLiteral(": ") + prompt).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    switch (buttons) {
      case MsgButtons::Ok: return MsgResult::Ok;
      case MsgButtons::OkCancel: return MsgResult::Cancel;
      case MsgButtons::YesNo: return MsgResult::No;
      case MsgButtons::YesNoCancel: return MsgResult::Cancel;
    }
  }
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(title);
  box.setText(prompt);
  switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
  }
  switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case MsgButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::msgBox) testhooks::msgBox(&box);
#endif
  switch (box.exec()) {
    case QMessageBox::Ok: return MsgResult::Ok;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default:
      switch (buttons) {
        case MsgButtons::Ok: return MsgResult::Ok;
        case MsgButtons::YesNo: return MsgResult::No;
        case MsgButtons::OkCancel:
        case MsgButtons::YesNoCancel: break;
      }
      return MsgResult::Cancel;
  }
}
