#pragma once
// What a user reads of a mail check: the codes a check reports (CheckSink.h)
// worded, for the window side of the check and the headless one alike. The
// mail library's results are worded where every other use of that library
// words them (reception/words/MailWording.h), so a server or connection
// failure reads the same on receiving and sending.
#include "CheckSink.h"

#include <QString>

namespace reception {

// The help box while a check runs.
QString checkingText();
QString statusText(CheckStatus status);
// "受信中 12/340件（3.4 MB）"
QString progressText(const CheckProgress& p);
QString leftText(const LeftMail& left);
QString problemText(const CheckProblem& problem);
// The mails not received, up to ten of them by number and why, then every
// other problem, one a line.
QString failureText(const CheckFailure& failure);

}  // namespace reception
