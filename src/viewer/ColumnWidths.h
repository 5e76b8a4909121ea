#pragma once
// The widths the user gave the viewer's "Subject" and "From" columns, kept
// from one opening to the next in a settings file of the program's own in
// the data folder (the state file keeps only its two choices).
#include <QString>
#include <optional>

namespace viewer {

inline const QString kColumnWidthsFile = QStringLiteral("★MailData/tomoshibi.ini");

// In twips; a width the file lacks, or holds as no whole number of
// twips in a sensible range, is none.
struct ColumnWidths {
  std::optional<double> subject;
  std::optional<double> from;
};

ColumnWidths readColumnWidths();
// False when the file cannot be written (a missing data folder).
bool writeColumnWidths(double subject, double from);

}  // namespace viewer
