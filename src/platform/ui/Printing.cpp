#include "Printing.h"

#include "platform/TestHooks.h"

#include <QAbstractTextDocumentLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace printing {

bool showPrintDialog(QPrinter& printer, QWidget* parent, bool selectionRange) {
  printer.setPrintRange(selectionRange ? QPrinter::Selection : QPrinter::AllPages);
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::printDialog) return testhooks::printDialog(printer, selectionRange);
#endif
  QPrintDialog dialog(&printer, parent);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, selectionRange);
  if (selectionRange) dialog.setPrintRange(QAbstractPrintDialog::Selection);
  return dialog.exec() == QDialog::Accepted;
}

Job::Job(QPrinter& printer) : printer_(printer), toFile_(!printer.outputFileName().isEmpty()) {
  // The copies are printed one by one here; a printer told to make copies
  // as well would make copies of every copy.
  printer_.setCopyCount(1);
}

Job::~Job() {
  if (painter_.isActive()) painter_.end();
}

bool Job::begin(QString* error) {
  if (painter_.begin(&printer_)) return true;
  const QString where = toFile_ ? printer_.outputFileName() : printer_.printerName();
  if (error) *error = QStringLiteral("「%1」に印刷を始められません").arg(where);
  return false;
}

bool Job::printCopy(const QString& text, const QFont& font, QString* error) {
  const bool first = copies_++ == 0;
  if (toFile_) {
    if (first && !begin(error)) return false;
    return lay(text, font, !first, error);
  }
  if (!begin(error)) return false;
  const bool laid = lay(text, font, false, error);
  // Ending the painter ends the document: the job goes to the printer.
  painter_.end();
  return laid;
}

bool Job::finish(QString* error) {
  if (!painter_.isActive()) return true;
  if (painter_.end()) return true;
  if (error) *error = QStringLiteral("「%1」を書き終えられません").arg(printer_.outputFileName());
  return false;
}

bool Job::lay(const QString& text, const QFont& font, bool newPageFirst, QString* error) {
  QTextDocument doc;
  doc.setDefaultFont(font);
  doc.documentLayout()->setPaintDevice(&printer_);
  doc.setPlainText(text);
  const QSizeF page = printer_.pageLayout().paintRectPixels(printer_.resolution()).size();
  doc.setPageSize(page);
  const int pages = doc.pageCount();
  for (int p = 0; p < pages; ++p) {
    if ((p > 0 || newPageFirst) && !printer_.newPage()) {
      if (error) *error = QStringLiteral("次のページに進めません");
      return false;
    }
    painter_.save();
    painter_.translate(0, -p * page.height());
    doc.drawContents(&painter_, QRectF(QPointF(0, p * page.height()), page));
    painter_.restore();
  }
  return true;
}

}  // namespace printing
