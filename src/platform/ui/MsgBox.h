#pragma once
// Message boxes with the fixed texts of this program. A run without windows
// (--check, --send) prints them on standard error instead.
#include <QString>

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Question, Exclamation, Information, Critical };
enum class MsgResult { Ok, Cancel, Yes, No };

// The title of notices that carry only the application's name.
inline const QString kAppTitle = QStringLiteral("灯火亭");

MsgResult MsgBox(const QString& prompt, MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None,
                 const QString& title = kAppTitle);

// Headless runs: print "title: prompt" on standard error and take the safe
// answer (OK, No, Cancel; Cancel of three) instead of showing a window.
void setMsgBoxConsoleMode(bool on);
bool msgBoxConsoleMode();
