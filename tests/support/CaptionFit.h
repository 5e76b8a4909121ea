#pragma once
// Whether the captions of a window's controls show whole at the size it has,
// measured by each control's own font and its style's text area.
#include <QStringList>
#include <gtest/gtest.h>

class QWidget;

// Every visible button, check box, option button and label of `window`
// whose caption its control cuts, one line each; empty when none is cut.
QStringList cutCaptions(QWidget* window);

inline ::testing::AssertionResult showsEveryCaptionWhole(QWidget* window) {
  const QStringList cut = cutCaptions(window);
  if (cut.isEmpty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << cut.join(u'\n').toStdString();
}
