#include "KillPoints.h"

#include "store/received/ReceiveJournal.h"

#include <QByteArray>
#include <QHash>
#include <csignal>

namespace reception {
namespace {

struct KillAt {
  KillStep step = KillStep::Connected;
  int at = 0;  // 0: never
  int seen = 0;
};

KillAt& killAt() {
  static KillAt k = [] {
    KillAt k;
    const QByteArray wanted = qgetenv("TOMOSHIBI_TEST_KILL_AT");
    const qsizetype colon = wanted.indexOf(':');
    if (colon <= 0) return k;
    static const QHash<QByteArray, KillStep> names{{"connected", KillStep::Connected},
                                                   {"retrieved", KillStep::Retrieved},
                                                   {"original", KillStep::OriginalWritten},
                                                   {"record", KillStep::RecordWritten},
                                                   {"journal", KillStep::JournalWritten},
                                                   {"dele", KillStep::DeleteAnswered},
                                                   {"before-quit", KillStep::BeforeQuit},
                                                   {"quit-answered", KillStep::QuitAnswered}};
    const auto it = names.constFind(wanted.left(colon));
    if (it == names.constEnd()) return k;
    k.step = *it;
    k.at = wanted.mid(colon + 1).toInt();
    return k;
  }();
  return k;
}

}  // namespace

void armKillHarness() {
  if (killAt().at > 0) received::ReceiveJournal::s_afterWrite = [] { killPoint(KillStep::JournalWritten); };
}

void killPoint(KillStep s) {
  KillAt& k = killAt();
  if (k.at > 0 && k.step == s && ++k.seen == k.at) ::raise(SIGKILL);
}

int harnessBatchMails() { return qEnvironmentVariableIntValue("TOMOSHIBI_TEST_BATCH"); }

}  // namespace reception
