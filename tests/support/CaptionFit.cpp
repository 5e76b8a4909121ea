#include "support/CaptionFit.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolBar>

namespace {

QString fault(const QWidget* w, const QString& caption, int need, int room) {
  return QStringLiteral("%1: \"%2\" takes %3 pixels, it shows %4").arg(w->objectName(), caption).arg(need).arg(room);
}

// The widest line of `text` as drawn with `w`'s font, "&" marks left out.
int widthOf(const QWidget* w, QString text) {
  text.remove(u'&');
  int widest = 0;
  for (const QString& line : text.split(u'\n')) widest = std::max(widest, QFontMetrics(w->font()).horizontalAdvance(line));
  return widest;
}

int buttonRoom(const QAbstractButton* b, QStyle::SubElement contents) {
  QStyleOptionButton opt;
  opt.initFrom(b);
  opt.text = b->text();
  opt.icon = b->icon();
  opt.iconSize = b->iconSize();
  return b->style()->subElementRect(contents, &opt, b).width();
}

}  // namespace

QStringList cutCaptions(QWidget* window) {
  QStringList cut;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || qobject_cast<QToolBar*>(w->parentWidget())) continue;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->text().isEmpty()) continue;
      QStyle::SubElement contents = QStyle::SE_PushButtonContents;
      if (qobject_cast<QCheckBox*>(b)) contents = QStyle::SE_CheckBoxContents;
      else if (qobject_cast<QRadioButton*>(b)) contents = QStyle::SE_RadioButtonContents;
      else if (!qobject_cast<QPushButton*>(b)) continue;
      const int need = widthOf(b, b->text());
      const int room = buttonRoom(b, contents);
      if (need > room) cut << fault(b, b->text(), need, room);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->text().isEmpty()) continue;
      const QRect area = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
      if (l->wordWrap()) {
        // Wrapped, every line must be there.
        const int need = l->heightForWidth(l->width());
        if (need > l->height()) cut << fault(l, l->text(), need, l->height()) + QStringLiteral(" (height)");
      } else {
        const int need = widthOf(l, l->text());
        if (need > area.width()) cut << fault(l, l->text(), need, area.width());
      }
    }
  }
  return cut;
}
