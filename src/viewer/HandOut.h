#pragma once
// Handing kept mail out from a list window, received or sent alike: one
// mail's original as a .eml file, all mail as one mbox file. The user
// chooses the file; what went wrong, or how many went, is said in a box.
#include "reception/MailExport.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

namespace viewer {

// A sentence set in parentheses within another loses its own full stop.
QString inner(QString sentence);

// `original` saved where the user says, offered under the subject made safe.
void saveOriginalAs(QWidget* parent, const QByteArray& original, const QString& subject);

// All mail written by `write` into the mbox file the user names, offered
// as `offeredName`.
void exportMboxAs(QWidget* parent, const QString& offeredName,
                  const std::function<reception::ExportSummary(const QString& target)>& write);

}  // namespace viewer
