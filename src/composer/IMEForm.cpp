#include "IMEForm.h"

#include "platform/Paths.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowOrder.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <algorithm>

namespace {
SingleWindow<IMEForm> g_form;
const QString kPage = paths::kImePadFolder + QStringLiteral("/IME.htm");
}  // namespace

IMEForm* IMEForm::existing() { return g_form.existing(); }

IMEForm* IMEForm::instance() { return g_form.instance([] { return new IMEForm; }); }

IMEForm::IMEForm() : QWidget(nullptr) {
  setObjectName(QStringLiteral("IMEForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Form1"));
  // The caption says nothing; a screen reader names the window by what it holds.
  setAccessibleName(QStringLiteral("IMEパッドの説明"));
  WebBrowser1 = new QTextBrowser(this);
  WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
  WebBrowser1->setAccessibleName(QStringLiteral("IMEパッドの説明"));
  // Links are followed here, and only to local pages.
  WebBrowser1->setOpenLinks(false);
  connect(WebBrowser1, &QTextBrowser::anchorClicked, this, &IMEForm::navigate);
  resize(twips::toPx(9000), twips::toPx(7800));
  Form_Load();
}

IMEForm::~IMEForm() = default;

QString IMEForm::pageFile() { return paths::resolve(kPage); }

QSizeF IMEForm::browserSize(double outerWidth, double outerHeight) {
  // A window smaller than the margins leaves the browser no room at all.
  return {std::max(0.0, outerWidth - 100), std::max(0.0, outerHeight - 400)};
}

void IMEForm::Form_Load() {
  SetWindowPos(this, HWND_TOPMOST);
  navigate(QUrl::fromLocalFile(pageFile()));
}

void IMEForm::navigate(const QUrl& url) {
  const QUrl target = WebBrowser1->source().resolved(url);
  if (!target.isLocalFile()) return;  // offline: the network is never asked
  const QString file = target.toLocalFile();
  if (QFileInfo(file).isFile()) {
    WebBrowser1->setSource(target);
    return;
  }
  // What a browser shows for a page that is not there.
  WebBrowser1->setHtml(
      QStringLiteral("<h3>ページが見つかりません</h3><p>%1</p>"
                     "<p>プログラムフォルダを作り直すには、次のコマンドを実行して下さい。<br>"
                     "tomoshibi --init-home \"%2\"</p>")
          .arg(QDir::toNativeSeparators(file).toHtmlEscaped(),
               QDir::toNativeSeparators(paths::programFolder()).toHtmlEscaped()));
}

void IMEForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void IMEForm::Form_Resize() {
  const QSizeF size = browserSize(twips::outerWidth(this), twips::outerHeight(this));
  twips::place(WebBrowser1, 0, 0, size.width(), size.height());
}
