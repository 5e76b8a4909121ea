#pragma once
// A mailto: link opened in the compose window "新規作成".
#include <QString>

// Opens the compose window with the link's recipients, subject and body.
// A window that already holds a mail being written is replaced only when
// the user says so. False when the link was refused or the user kept the
// mail being written.
bool ComposeFromMailtoLink(const QString& link);
