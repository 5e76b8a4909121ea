#pragma once
// What a mailto: link taken apart must be, wherever it came from.
#include "FuzzCheck.h"
#include "composer/model/MailtoLink.h"

namespace fuzzcheck {

inline void checkMailto(const MailtoLink& m) {
  if (!m.error.isEmpty()) {
    FUZZ_CHECK(m.to.isEmpty() && m.cc.isEmpty() && m.bcc.isEmpty() && m.subject.isEmpty() && m.body.isEmpty(),
               QStringLiteral("a refused link still gave fields"));
    return;
  }
  for (const QStringList* list : {&m.to, &m.cc, &m.bcc})
    for (const QString& a : *list) {
      checkOneLine(a, "an address");
      FUZZ_CHECK(!a.isEmpty() && !a.contains(u',') && a == a.trimmed(), QStringLiteral("address \"%1\"").arg(a));
    }
  checkOneLine(m.subject, "the subject");
  checkOneLine(mailtoRecipients(m), "the recipient box");
  checkText(m.body, "the body");
  for (QChar c : m.body)
    FUZZ_CHECK(c == u'\n' || c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F),
               QStringLiteral("control character %1 in the body").arg(int(c.unicode())));
}

}  // namespace fuzzcheck
