#include "AppSetup.h"

#include "platform/ui/Icons.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void setUpJapaneseUi(QApplication& app) {
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const char* name : {"qtbase_ja", "qt_ja"}) {
    auto* t = new QTranslator(&app);
    if (t->load(QString::fromLatin1(name), dir))
      app.installTranslator(t);
    else
      delete t;
  }
  // The body font of the composers is "ＭＳ ゴシック"; a Japanese gothic
  // font of this system stands in for it.
  const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                              QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL Gothic"),
                              QStringLiteral("TakaoGothic")};
  QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), gothic);
  QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothic);
  const QStringList families = QFontDatabase::families();
  for (const QString& f : {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")}) {
    if (families.contains(f)) {
      QFont font(f);
      font.setPointSize(10);
      app.setFont(font);
      break;
    }
  }
  // The toolbars' pictures come from the desktop's icon theme.
  icons::setUpTheme();
  app.setApplicationName(QStringLiteral("tomoshibi"));
  app.setApplicationDisplayName(QString());
}
