#include "TypingLimit.h"

#include <QValidator>
#include <algorithm>

namespace {

// Compares a user's edit with the text the box held before it and cuts
// what the edit inserted, so that the text grows no longer than the limit
// (or than it already was). Texts the program sets pass unchanged.
class TypedLengthLimit : public QValidator {
 public:
  explicit TypedLengthLimit(TypedLineEdit* box) : QValidator(box), box_(box), last_(box->text()) {
    connect(box, &QLineEdit::textChanged, this, [this](const QString& t) { last_ = t; });
  }

  State validate(QString& input, int& pos) const override {
    const qsizetype room = std::max<qsizetype>(box_->typedLimit(), last_.size());
    if (!box_->editing() || input.size() <= room) return Acceptable;
    qsizetype head = 0;
    while (head < input.size() && head < last_.size() && input[head] == last_[head]) ++head;
    qsizetype tail = 0;
    while (tail < input.size() - head && tail < last_.size() - head &&
           input[input.size() - 1 - tail] == last_[last_.size() - 1 - tail])
      ++tail;
    const qsizetype inserted = input.size() - head - tail;
    qsizetype keep = std::max<qsizetype>(0, inserted - (input.size() - room));
    if (keep > 0 && input[head + keep - 1].isHighSurrogate()) --keep;  // never half a pair
    input = input.left(head + keep) + input.right(tail);
    pos = int(head + keep);
    return Acceptable;
  }

 private:
  TypedLineEdit* box_;
  QString last_;
};

// Marks the box as being edited by the user while a handler runs.
class Editing {
 public:
  explicit Editing(int& depth) : depth_(depth) { ++depth_; }
  ~Editing() { --depth_; }

 private:
  int& depth_;
};

}  // namespace

TypedLineEdit::TypedLineEdit(int limit, QWidget* parent) : QLineEdit(parent), limit_(limit) {
  setValidator(new TypedLengthLimit(this));
}

void TypedLineEdit::keyPressEvent(QKeyEvent* e) {
  Editing on(editing_);
  QLineEdit::keyPressEvent(e);
}

void TypedLineEdit::inputMethodEvent(QInputMethodEvent* e) {
  Editing on(editing_);
  QLineEdit::inputMethodEvent(e);
}

void TypedLineEdit::dropEvent(QDropEvent* e) {
  Editing on(editing_);
  QLineEdit::dropEvent(e);
}

void TypedLineEdit::mouseReleaseEvent(QMouseEvent* e) {
  Editing on(editing_);
  QLineEdit::mouseReleaseEvent(e);
}

void TypedLineEdit::contextMenuEvent(QContextMenuEvent* e) {
  Editing on(editing_);
  QLineEdit::contextMenuEvent(e);
}
