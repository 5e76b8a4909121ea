#pragma once
// What a user reads of bringing mail in (MailImport.h), for the viewer and
// the headless --import alike.
#include "MailImport.h"

#include <QString>

namespace mailimport {

// "取り込み N件、重複 M件、読めないもの K件"
QString countsText(const ImportCounts& counts);
// While it runs: "取り込み中 12件（3.4/10.0 MB）"
QString progressText(const ImportProgress& p);
QString failureText(const ImportFailure& failure);
// The counts, then what was left out and why, one a line.
QString summaryText(const ImportSummary& summary);

}  // namespace mailimport
