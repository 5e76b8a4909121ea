#pragma once
// Toolbar pictures: the desktop's icon theme, the same for every window.
#include <QIcon>
#include <QString>

namespace icons {

// The theme asked where the desktop's own lacks an icon, or where there is
// no desktop (a bare X server, no display). The package depends on it.
inline const QString kFallbackTheme = QStringLiteral("Adwaita");

// Once at start: the fallback theme, and the system's icon folders where
// the platform names none.
void setUpTheme();

// The theme's icon of the freedesktop name `name`; where no theme has it,
// `glyph` drawn as a picture (bold, italic or underlined for the text-style
// names).
QIcon toolIcon(const QString& name, const QString& glyph);

}  // namespace icons
