// The drawn column headings: colours, edge, pressed look, hook and unhook.
#include "platform/ui/ListHeaders.h"
#include "support/Gui.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct HeaderedList {
  QStandardItemModel model{2, 3};
  std::unique_ptr<QTreeView> list = std::make_unique<QTreeView>();
  HeaderedList() {
    model.setHorizontalHeaderLabels({QStringLiteral("Subject"), QString(), QStringLiteral("Date")});
    list->setModel(&model);
    list->header()->setSectionsClickable(true);
    list->header()->setStretchLastSection(false);
    for (int i = 0; i < 3; ++i) list->header()->resizeSection(i, 120);
    list->resize(420, 200);
    list->show();
    pump();
  }
  QHeaderView* header() const { return list->header(); }
  QImage image() const { return header()->viewport()->grab().toImage(); }
  QRect section(int i) const {
    return QRect(header()->sectionViewportPosition(i), 0, header()->sectionSize(i), header()->viewport()->height());
  }
};

// Colours as 8-bit RGB: what reached the screen.
QRgb at(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }
QRgb rgb(const QColor& c) { return c.rgb() & 0xFFFFFF; }

int whitePixels(const QImage& img, const QRect& r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (QColor(at(img, x, y)).lightness() > 230) ++n;
  return n;
}

}  // namespace

TEST(ListHeadings, SteelBlueFieldsWithRaisedEdgeAndWhiteText) {
  HeaderedList h;
  const QImage before = h.image();
  HookListHeaders(h.list.get());
  pump();
  const QImage img = h.image();
  ASSERT_NE(img, before);

  // The heading without text is an empty field inside its edge.
  const QRect empty = h.section(1);
  for (int y = empty.top() + 1; y < empty.bottom(); ++y)
    for (int x = empty.left() + 1; x < empty.right() - 1; ++x)
      ASSERT_EQ(at(img, x, y), rgb(listheaders::kFace)) << x << "," << y;
  // Raised: light top and left, dark bottom and right (one column short of
  // the section's end).
  const QPalette pal = h.header()->palette();
  EXPECT_EQ(at(img, empty.left() + 10, empty.top()), rgb(pal.color(QPalette::Light)));
  EXPECT_EQ(at(img, empty.left(), empty.top() + 5), rgb(pal.color(QPalette::Light)));
  EXPECT_EQ(at(img, empty.left() + 10, empty.bottom()), rgb(pal.color(QPalette::Shadow)));
  EXPECT_EQ(at(img, empty.right() - 1, empty.top() + 5), rgb(pal.color(QPalette::Shadow)));
  EXPECT_EQ(at(img, empty.right(), empty.top() + 5), rgb(listheaders::kFace));

  // A heading with text: white text, starting a few pixels in.
  const QRect subject = h.section(0);
  EXPECT_GT(whitePixels(img, subject.adjusted(5, 2, -2, -2)), 10);
  EXPECT_EQ(whitePixels(img, QRect(subject.left() + 1, subject.top() + 1, 4, subject.height() - 2)), 0);
  // The rows are none of the heading's business.
  EXPECT_EQ(h.list->style(), QApplication::style());
}

TEST(ListHeadings, PressedHeadingIsFlatUntilReleased) {
  HeaderedList h;
  HookListHeaders(h.list.get());
  pump();
  const QRect r = h.section(2);
  const QPalette pal = h.header()->palette();
  QTest::mousePress(h.header()->viewport(), Qt::LeftButton, {}, r.center());
  pump();
  QImage img = h.image();
  EXPECT_EQ(at(img, r.left() + 10, r.top()), rgb(pal.color(QPalette::Dark)));
  EXPECT_EQ(at(img, r.left() + 10, r.bottom()), rgb(pal.color(QPalette::Dark)));
  // The other headings stay raised.
  EXPECT_EQ(at(img, h.section(0).left() + 10, 0), rgb(pal.color(QPalette::Light)));

  QTest::mouseRelease(h.header()->viewport(), Qt::LeftButton, {}, r.center());
  pump();
  img = h.image();
  EXPECT_EQ(at(img, r.left() + 10, r.top()), rgb(pal.color(QPalette::Light)));
}

TEST(ListHeadings, UnhookGivesBackTheStyleBeforeAndHooksCountOnce) {
  HeaderedList plain;
  HookListHeaders(plain.list.get());
  HookListHeaders(plain.list.get());  // a second hook must not bury the first style
  EXPECT_TRUE(listHeadersHooked(plain.header()));
  UnhookListHeaders(plain.list.get());
  EXPECT_FALSE(listHeadersHooked(plain.header()));
  EXPECT_EQ(plain.header()->style(), QApplication::style());
  EXPECT_FALSE(plain.header()->testAttribute(Qt::WA_SetStyle));
  UnhookListHeaders(plain.list.get());  // not hooked: nothing happens
  EXPECT_EQ(plain.header()->style(), QApplication::style());

  // A header with a style of its own gets that one back.
  HeaderedList styled;
  std::unique_ptr<QStyle> own(QStyleFactory::create(QStringLiteral("Windows")));
  ASSERT_TRUE(own);
  styled.header()->setStyle(own.get());
  HookListHeaders(styled.header());
  EXPECT_NE(styled.header()->style(), own.get());
  UnhookListHeaders(styled.header());
  EXPECT_EQ(styled.header()->style(), own.get());

  // A list destroyed while hooked leaves nothing behind that a new list
  // could trip over.
  styled.header()->setStyle(nullptr);
  {
    HeaderedList gone;
    HookListHeaders(gone.list.get());
  }
  HeaderedList next;
  EXPECT_FALSE(listHeadersHooked(next.header()));
  HookListHeaders(next.list.get());
  EXPECT_TRUE(listHeadersHooked(next.header()));
}
