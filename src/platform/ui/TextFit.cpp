#include "TextFit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace textfit {
namespace {

// The pixels a line box keeps clear on either side of its text.
constexpr int kSideClearance = 2;

// The text's own width as the box measures it before it scrolls: the
// advance, one pixel of caret, and the glyphs' overhang on either side.
int textWidth(const QLineEdit* box, const QString& text) {
  const QFontMetrics fm(box->font());
  return fm.horizontalAdvance(text) + 1 + std::max(0, -fm.minLeftBearing()) + std::max(0, -fm.minRightBearing());
}

class CutTextTip : public QObject {
 public:
  explicit CutTextTip(QLineEdit* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
    connect(box, &QLineEdit::textChanged, this, &CutTextTip::update);
    update();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == box_ && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange ||
                            event->type() == QEvent::StyleChange))
      update();
    return false;
  }

 private:
  void update() {
    const QString text = box_->text();
    const bool cut = textWidth(box_, text) > lineTextRoom(box_);
    const QString tip = cut ? text : QString();
    if (box_->toolTip() != tip) box_->setToolTip(tip);
  }
  QLineEdit* box_;
};

}  // namespace

int lineTextRoom(const QLineEdit* box) {
  QStyleOptionFrame opt;
  opt.initFrom(box);
  opt.rect = box->rect();
  opt.lineWidth = box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box) : 0;
  opt.midLineWidth = 0;
  opt.state |= QStyle::State_Sunken;
  const QRect r =
      box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box).marginsRemoved(box->textMargins());
  return r.width() - 2 * kSideClearance;
}

int lineWidthFor(const QLineEdit* box, const QString& text) {
  return box->width() - lineTextRoom(box) + textWidth(box, text);
}

void tipWhenCut(QLineEdit* box) { new CutTextTip(box); }

int plainHeightFor(const QPlainTextEdit* box, const QString& text) {
  // Laid out line by line as the box lays out plain text, at the width it
  // shows it.
  const QTextDocument* doc = box->document();
  const qreal margin = doc->documentMargin();
  const int frame = box->frameWidth();
  const qreal width = box->width() - 2 * frame - 2 * margin;
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  qreal height = 0;
  for (const QString& paragraph : shown.split(u'\n')) {
    QTextLayout layout(paragraph, box->font());
    layout.setTextOption(doc->defaultTextOption());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLeadingIncluded(true);
      line.setLineWidth(width);
      height += line.height();
    }
    layout.endLayout();
  }
  // The margin above and below the text, and one pixel the box keeps free
  // under its last line before it offers to scroll.
  return int(std::ceil(height + 2 * margin)) + 1 + 2 * frame;
}

}  // namespace textfit
