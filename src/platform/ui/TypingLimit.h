#pragma once
// A one-line text box that takes at most so many typed characters: typing,
// pasting, dropping and input-method text are cut to fit, while a longer
// text the program puts in (setText) is kept whole and can still be edited
// down.
#include <QLineEdit>

class TypedLineEdit : public QLineEdit {
 public:
  TypedLineEdit(int limit, QWidget* parent = nullptr);
  int typedLimit() const { return limit_; }
  // True while the user's own edit is being applied.
  bool editing() const { return editing_ > 0; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;  // middle-button paste
  void contextMenuEvent(QContextMenuEvent* e) override;  // its 貼り付け

 private:
  int limit_;
  int editing_ = 0;
};
