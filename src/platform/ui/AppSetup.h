#pragma once
class QApplication;

// Japanese throughout: Qt's own Japanese texts for standard buttons and
// dialogs, Japanese date formats, and a Japanese gothic font standing in for
// the fonts the windows name; and the desktop's icon theme for the toolbars.
void setUpJapaneseUi(QApplication& app);
