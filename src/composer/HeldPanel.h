#pragma once
// The held-mail panel of the compose and reply windows: "下書き" shows and
// hides it, "保存" holds the mail in the boxes, "呼出" lists the held mails
// in the side list, a row picked there fills the boxes, and "削除" deletes
// the picked held mail. Both windows pass their own controls; the file, the
// buffer, the messages, the list-source indicator and the panel counter are
// shared.
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;

struct HeldPanel {
  QLineEdit* to;             // ToText
  QLineEdit* subject;        // SubjectText
  QPlainTextEdit* body;      // the body box
  QListWidget* list;         // List1, the held list
  QLineEdit* count;          // Text1; null when the window keeps no count
  QLineEdit* picked;         // Text2: "1" after a row was picked
  QPushButton* draftButton;  // 下書き
  QWidget* panel;            // Picture7
  QList<int16_t>* rowRecordMap;
  // True while the window's list shows held mails (a reply window's list
  // always does).
  std::function<bool()> listHoldsHeld;
  // 呼出's part that is the window's own: its width, and remembering that
  // its list now shows held mails. May be empty.
  std::function<void()> showHeldList;
  // 保存 ends with 呼出 (the reply window's 保存 does not).
  bool saveRecalls = true;
};

// Fills the held-mail buffer from the boxes and writes it as record n;
// false (and said) when it cannot be written.
bool WriteHeldRecord(const HeldPanel& p, int n);
// Fills the list, its record numbers and the count from the file.
void LoadHeldList(const HeldPanel& p);
void ToggleDraftPanel(const HeldPanel& p);  // 下書き
void HoldMail(const HeldPanel& p);          // 保存
void RecallHeldMails(const HeldPanel& p);   // 呼出
void PickHeldMail(const HeldPanel& p);      // a row of the held list picked
void DeleteHeldMail(const HeldPanel& p);    // 削除
