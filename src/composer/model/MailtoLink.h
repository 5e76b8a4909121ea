#pragma once
// A mailto: link (RFC 6068) taken apart for the compose window: recipients,
// subject and body, percent-decoded, with nothing left in the recipients or
// the subject that could end a header line.
#include <QString>
#include <QStringList>

struct MailtoLink {
  QStringList to;   // the addresses before "?" and those of every to= field
  QStringList cc;
  QStringList bcc;
  QString subject;
  QString body;     // lines end in "\n"
  QString error;    // set when the link is not used at all
};

// The longest link taken, in bytes as given (a command line holds at most
// 128 KiB in one argument as well).
inline constexpr qsizetype kMaxMailtoLength = 128 * 1024;

// Values are UTF-8 as RFC 6068 has it; a value that is not UTF-8 but reads
// as CP932 (links on older Japanese pages) is read as CP932. Fields other
// than to, cc, bcc, subject and body are ignored.
MailtoLink parseMailto(const QString& link);

// What the compose window's single recipient box gets: the to and the cc
// addresses, comma-separated. Blind copies are left out: every address in
// the box is shown to every recipient.
QString mailtoRecipients(const MailtoLink& link);
