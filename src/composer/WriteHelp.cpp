// The compose window's explanations: what the help box says over each
// control, how tall it must be, and when it goes out of sight.
#include "WriteForm.h"

#include "composer/SideList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

void WriteForm::hideHelpOver(QWidget* control) {
  helpHiders_ << control;
  control->installEventFilter(this);
}

void WriteForm::setHelpTexts() {
  const QString crlf = QStringLiteral("\r\n");
  help_.set(AttachCommand,
          QStringLiteral("各種ファイルを添付して送信できます。１個の添付ファイルの際に使用します。") + crlf +
              QStringLiteral("２個目からは「追加」ボタンをクリックして下さい。一覧リストが表示されます。送信メール１件について１０個までの送信が可能です。") +
              crlf + QStringLiteral("添付ファイルを中止したい時は「取り消し」ボタンをクリック！") + crlf +
              QStringLiteral("添付ファイルを複数選択した際に表示される一覧リストが邪魔なときは「リスト」をクリックして下さい。一覧リストの一時的な表示・非表示が出来ます。表示・非表示を行うだけで、選択したファイルが取り消される訳ではありません。"));
  help_.set(Command9, QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。"));
  help_.set(Command10, QStringLiteral("添付ファイルの内容をクリアします。"));
  help_.set(Command16, QStringLiteral("添付ファイルを複数選択した際、リストが自動的に表示されます。このリストの表示、非表示を操作します。リストが非表示になっても、選択したファイルがクリアされた訳ではありません。クリアする場合は「取り消し」か「クリア」をクリックして下さい。"));
  help_.set(Command5, QStringLiteral("コピーした内容を本文に貼り付けますコピーは本ソフト、あるいは別のアプリからでも可能です。"));
  help_.set(Command7, QStringLiteral("コピーした内容を宛先に貼り付けます。コピーは本ソフト、あるいは別のアプリからでも可能です。"));
  help_.set(Check1, QStringLiteral("チェックを入れて「IMEパッドの表示」をクリックすると、IMEパッドを閉じます。チェックを外してクリックすると、IMEパッドを表示します。"));
  help_.set(Command13, QStringLiteral("記入途中、あるいは書き終えたメールを保留（保存）とします。書き溜めておいて後でまとめて送信する場合に便利です。"));
  help_.set(Command14, QStringLiteral("保留（保存）扱いとしておいたメールデータを呼び出します。呼び出されたメールデータは右側のアドレス欄に件名のみが表示されます。マウスで選択すると、メールアドレス、件名、本文に自動的に挿入されます。"));
  help_.set(Command15, QStringLiteral("保留（保存）扱いとしていたメールデータの削除を１件単位で行います。"));
  help_.set(Command17, QStringLiteral("「下書き機能」です。予め作成しておいた「ひな型」を使用すれば非常に迅速にメールが書けます。"));
  help_.set(Command4, QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。送信したい名称をクリックすると、メールアドレスが自動的に入力されます。"));
  help_.set(Command6, QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。"));
  help_.set(Command11, QStringLiteral("宛先、件名、本文他、設定等が初期状態に戻せます。"));
  help_.set(Command1, QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"));
  help_.set(Command3, QStringLiteral("送信を中止します。"));
  help_.set(Command8,
          QStringLiteral("顔・絵文字の本文への挿入を行います。") + crlf + crlf +
              QStringLiteral("使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、「新規作成本文に挿入」ボタンを。") +
              QStringLiteral("クリックしますと、本分中に挿入されます。") + crlf + crlf +
              QStringLiteral("素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。画面を終了させると自動的に保存されます。") + crlf +
              QStringLiteral("上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良いでしょう。") + crlf +
              QStringLiteral("お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態にし、顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい。"));
  for (QLabel* l : Label2)
    help_.set(l, QStringLiteral("本文の冒頭に例文を貼り付けます。プルダウンから選択し、本文をクリックすると内容が貼り付けられます。"));
  help_.set(Option2, QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。") + crlf + crlf +
                      QStringLiteral("件名、本文入力完了後、送信ボタンをクリックして下さい。"));
  hideHelpOver(Frame1);
  hideHelpOver(rtfEd);
  hideHelpOver(rtfEd->viewport());
  hideHelpOver(Picture3);
}

void WriteForm::fitHelpBox() {
  // The help box shows its longest text whole. It lies over the body, so
  // the body grows under it and everything below the body moves down.
  const int need = help_.tallest(Text14);
  Text14->resize(Text14->width(), need);
  const int bodyEnd = rtfEd->y() + rtfEd->height();
  const int grow = std::max(0, Text14->y() + need - bodyEnd);
  if (grow == 0) return;
  for (QWidget* w : surface_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->y() >= bodyEnd) w->move(w->x(), w->y() + grow);
  rtfEd->resize(rtfEd->width(), rtfEd->height() + grow);
  List1->resize(List1->width(), List1->height() + grow);
  surface_->setMinimumHeight(surface_->minimumHeight() + grow);
}
