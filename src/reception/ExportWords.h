#pragma once
// What a user reads of handing received mail out (MailExport.h): its
// failures and its summary worded, for the viewer and the headless
// --export-mbox alike.
#include "MailExport.h"

#include <QString>

namespace reception {

// The words for a mail received before originals were kept.
QString noOriginalText();
QString exportFaultText(const ExportFault& fault);
// What a user is told when an export to `target` went well.
QString exportedText(const ExportSummary& summary, const QString& target);

}  // namespace reception
