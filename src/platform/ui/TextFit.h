#pragma once
// Whether a text fits the box that shows it, by the box's own font, and the
// whole text in the tooltip of a box that cuts it.
#include <QString>

class QLineEdit;
class QPlainTextEdit;

namespace textfit {

// The pixels a line box shows its text in: inside its frame, its text
// margins and the two pixels it keeps clear on either side.
int lineTextRoom(const QLineEdit* box);

// The width in pixels `box` must have to show `text` whole, from its first
// character to its last, without scrolling it.
int lineWidthFor(const QLineEdit* box, const QString& text);

// From now on the tooltip of `box` holds its whole text while the box cuts
// it (a text change, a resize, another font), and nothing while it shows it
// whole.
void tipWhenCut(QLineEdit* box);

// The height in pixels `box` must have to show `text` whole at its present
// width, without offering to scroll; a CR LF counts as one line break.
int plainHeightFor(const QPlainTextEdit* box, const QString& text);

}  // namespace textfit
