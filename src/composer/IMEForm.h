#pragma once
// The window that explains the input method's character palette: the page
// "IMEPAd/IME.htm" below the program folder, shown offline and kept above
// other windows. The compose and reply windows open it.
#include <QUrl>
#include <QWidget>

class QTextBrowser;

class IMEForm : public QWidget {
  Q_OBJECT
 public:
  // The window, created and loaded when it does not exist yet.
  static IMEForm* instance();
  // The window if it exists, else null.
  static IMEForm* existing();
  ~IMEForm() override;

  // Offline: it shows the page and the local files it names, and follows
  // no link off this machine.
  QTextBrowser* WebBrowser1 = nullptr;

  // The page, below the program folder.
  static QString pageFile();
  // The browser's size from the window's outer size, in twips: 100 less
  // wide and 400 less high, never below 0.
  static QSizeF browserSize(double outerWidth, double outerHeight);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  IMEForm();
  void Form_Load();
  void Form_Resize();
  void navigate(const QUrl& url);
};
