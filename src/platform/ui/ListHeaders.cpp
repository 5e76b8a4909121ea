#include "ListHeaders.h"

#include "platform/Text.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QTreeView>

namespace {

// Draws every heading itself; everything else goes to the style the
// application uses.
class ListHeaderStyle : public QProxyStyle {
 public:
  ListHeaderStyle() { setObjectName(QStringLiteral("ListHeaderStyle")); }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_Header) {
      if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option)) {
        drawHeading(*header, painter);
        return;
      }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }

 private:
  static void drawHeading(const QStyleOptionHeader& opt, QPainter* p) {
    p->save();
    QRect r = opt.rect;
    p->fillRect(r, listheaders::kFace);

    // The edge leaves the last pixel column to the next heading's field.
    r.setRight(r.right() - 1);
    if (r.width() > 1 && r.height() > 1) {
      const bool pressed = opt.state & QStyle::State_Sunken;
      // Raised: light top and left, dark bottom and right. Pressed: one flat
      // line of the shadow colour all round.
      const QColor topLeft = pressed ? opt.palette.color(QPalette::Dark) : opt.palette.color(QPalette::Light);
      const QColor bottomRight = pressed ? opt.palette.color(QPalette::Dark) : opt.palette.color(QPalette::Shadow);
      p->setPen(topLeft);
      p->drawLine(r.topLeft(), r.topRight());
      p->drawLine(r.topLeft(), r.bottomLeft());
      p->setPen(bottomRight);
      p->drawLine(r.bottomLeft(), r.bottomRight());
      p->drawLine(r.topRight(), r.bottomRight());
    }

    r.setLeft(r.left() + 5);
    // A heading text ends at its first NUL, as any text read from a control.
    const QString caption = text::CutAtNul(opt.text);
    if (!caption.isEmpty() && r.isValid()) {
      p->setClipRect(r);
      p->setPen(listheaders::kText);
      p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
    }
    p->restore();
  }
};

// One style serves every hooked header, as one drawing procedure serves both
// lists; it lives as long as the application.
ListHeaderStyle* headingStyle() {
  static QPointer<ListHeaderStyle> style;
  if (!style) {
    style = new ListHeaderStyle;
    style->setParent(qApp);
  }
  return style;
}

// The style each hooked header had before, kept per header: null when it
// used the application's style.
struct Saved {
  QPointer<QStyle> before;
  QMetaObject::Connection forget;  // drops the entry when the header goes
};
QHash<const QHeaderView*, Saved>& savedStyles() {
  static QHash<const QHeaderView*, Saved> saved;
  return saved;
}

QHeaderView* headerOf(QAbstractItemView* list) {
  if (auto* tree = qobject_cast<QTreeView*>(list)) return tree->header();
  if (auto* table = qobject_cast<QTableView*>(list)) return table->horizontalHeader();
  return nullptr;
}

}  // namespace

bool listHeadersHooked(const QHeaderView* header) { return header && savedStyles().contains(header); }

void HookListHeaders(QHeaderView* header) {
  // A second hook would keep the heading style as "the style before" and
  // unhooking could never give the old one back: hook once only.
  if (!header || listHeadersHooked(header)) return;
  Saved s;
  s.before = header->testAttribute(Qt::WA_SetStyle) ? header->style() : nullptr;
  s.forget = QObject::connect(header, &QObject::destroyed, qApp, [header] { savedStyles().remove(header); });
  savedStyles().insert(header, s);
  header->setStyle(headingStyle());
  header->viewport()->update();
}

void UnhookListHeaders(QHeaderView* header) {
  if (!listHeadersHooked(header)) return;
  const Saved s = savedStyles().take(header);
  QObject::disconnect(s.forget);
  header->setStyle(s.before.data());
  header->viewport()->update();
}

void HookListHeaders(QAbstractItemView* list) { HookListHeaders(headerOf(list)); }
void UnhookListHeaders(QAbstractItemView* list) { UnhookListHeaders(headerOf(list)); }
