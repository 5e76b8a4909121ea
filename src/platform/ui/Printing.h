#pragma once
// Printing plain text: the print dialog, and copies laid out page by page in
// a font. Tests answer the dialog (platform/TestHooks.h), typically by
// pointing the printer at a PDF file.
#include <QPainter>
#include <QString>

class QFont;
class QPrinter;
class QWidget;

namespace printing {

// The print dialog for `printer`, its selection range offered and chosen,
// or disabled. True to print; the printer then holds the choices.
bool showPrintDialog(QPrinter& printer, QWidget* parent, bool selectionRange);

// The copies of one print run. On a printer every copy is a print
// document (a job) of its own. Printed to a file, the copies follow each
// other in that one file, each from a new page: a second document would
// replace the file and take the first copy with it.
class Job {
 public:
  explicit Job(QPrinter& printer);
  ~Job();
  bool printCopy(const QString& text, const QFont& font, QString* error);
  // Ends the file of a print to a file; false when it could not be written.
  bool finish(QString* error);

 private:
  bool begin(QString* error);
  bool lay(const QString& text, const QFont& font, bool newPageFirst, QString* error);

  QPrinter& printer_;
  QPainter painter_;
  bool toFile_;
  int copies_ = 0;
};

}  // namespace printing
