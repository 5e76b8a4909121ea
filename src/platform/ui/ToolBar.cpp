#include "ToolBar.h"

#include "platform/ui/Icons.h"

#include <QAction>
#include <QToolBar>

namespace {

struct Tool {
  const char* key;
  const char* theme;
  QString glyph;
  QString tip;
};

const Tool* findTool(const char* key) {
  static const Tool tools[] = {
      {"New", "document-new", QStringLiteral("新"), QStringLiteral("新規作成")},
      {"Open", "document-open", QStringLiteral("開"), QStringLiteral("開く")},
      {"Save", "document-save", QStringLiteral("保"), QStringLiteral("名前を付けて保存")},
      {"Print", "document-print", QStringLiteral("印"), QStringLiteral("印刷")},
      {"Cut", "edit-cut", QStringLiteral("切"), QStringLiteral("切り取り")},
      {"Copy", "edit-copy", QStringLiteral("写"), QStringLiteral("ｺﾋﾟｰ")},
      {"Paste", "edit-paste", QStringLiteral("貼"), QStringLiteral("貼り付け")},
      {"Bold", "format-text-bold", QStringLiteral("B"), QStringLiteral("太字")},
      {"Italic", "format-text-italic", QStringLiteral("I"), QStringLiteral("斜体")},
      {"Underline", "format-text-underline", QStringLiteral("U"), QStringLiteral("下線")},
  };
  for (const Tool& t : tools)
    if (qstrcmp(t.key, key) == 0) return &t;
  return nullptr;
}

}  // namespace

void KeyedToolBar::setUp(QToolBar* bar) {
  bar_ = bar;
  bar->setObjectName(QStringLiteral("tbToolBar"));
  bar->setAccessibleName(QStringLiteral("ツールバー"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(16, 16));
}

QAction* KeyedToolBar::add(const char* key, std::function<void()> command) {
  const Tool* t = findTool(key);
  Q_ASSERT(t && bar_);
  const QString k = QString::fromLatin1(key);
  QAction* a = bar_->addAction(icons::toolIcon(QString::fromLatin1(t->theme), t->glyph), t->tip);
  a->setObjectName(k);
  a->setToolTip(t->tip);
  buttons_.insert(k, a);
  commands_.insert(k, std::move(command));
  return a;
}

void KeyedToolBar::click(const QString& key) const {
  const auto it = commands_.constFind(key);
  if (it != commands_.constEnd() && *it) (*it)();
}
