#pragma once
// Rules every window keeps: what a screen reader gets from it, read through
// the same accessibility interfaces it uses, a check of a whole window
// against those rules, and how check boxes line up with their labels.
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

class QCheckBox;
class QLabel;
class QWidget;

// The name and the value a screen reader announces for a control.
QString spokenName(QWidget* w);
QString spokenValue(QWidget* w);

// Everything wrong in `window`, one line per fault; empty when none:
// - a label that shows text has no fixed name hiding it; a picture has a name;
// - a box, list or control without a caption has a name, and a box's value
//   reads as the text it shows;
// - no internal name (objectName) is shown or spoken: window and bar
//   titles, menus and toolbars, captions, tooltips, names;
// - a right-click on a bar opens no menu (that would let it be hidden).
QStringList screenReaderFaults(QWidget* window);

// For EXPECT_TRUE: the faults spelled out when there are any.
inline ::testing::AssertionResult keepsScreenReaderRules(QWidget* window) {
  const QStringList faults = screenReaderFaults(window);
  if (faults.isEmpty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << faults.join(u'\n').toStdString();
}

// How far, in pixels, the mark of `box` sits below (+) or above (-) the
// middle of the first line `label` draws beside it.
int markOffsetFromLabel(const QCheckBox* box, const QLabel* label);
