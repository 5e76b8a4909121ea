#pragma once
// The back colour of a control, as the windows set and test it: the face of
// a button, the field of a box or list. Set for every state, so a disabled
// box shows it too.
#include <QColor>

class QWidget;

void setBackColor(QWidget* control, const QColor& color);
QColor backColor(const QWidget* control);

namespace colors {
inline const QColor white(255, 255, 255);
inline const QColor green(0, 128, 0);
inline const QColor yellow(255, 255, 0);
inline const QColor lightGrey(192, 192, 192);
// The side list while it lists held mails.
inline const QColor heldList(206, 240, 244);
// The recipient box while every address of the book is the recipient.
inline const QColor allAddresses(213, 239, 255);
}  // namespace colors
