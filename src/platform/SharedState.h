#pragma once
// Values shared by several windows for the whole run.
#include <QString>
#include <Qt>
#include <cstdint>
#include <functional>

namespace shared {

// Which list the viewer and the composers hold: 1 = the received-mail list,
// 10 = a composer's side list holds held mails, other values = addresses.
inline int16_t ListSource = 0;
// The record number of the mail or entry last stored, picked or being deleted.
inline int16_t CurrentRecordNumber = 0;
// Parity of the tune toggle of the main window ("宵待ち草(Click)").
inline int16_t TuneToggleCounter = 0;
// Parity of the held-mail panel toggle, shared by both composers.
inline int16_t DraftPanelCounter = 0;
// The current text document of the body boxes.
inline QString CurrentDocumentName;
inline int16_t DocumentModified = 0;  // -1 set, 0 clear
// Font-style toggles shared by the viewer's and the composer's toolbars.
inline int16_t BoldCounter = 0;
inline int16_t ItalicCounter = 0;
inline int16_t UnderlineCounter = 0;
// True while the windows run a mail check, which holds back the user's
// input: nothing may ask the user a question then.
inline bool CheckRunning = false;

// What the other windows ask of the main window and tell it, as named calls
// the main window sets while it exists (and clears when it goes), so that
// none of them includes it. Each is empty while there is no main window.
struct MainWindowCalls {
  // The state of its "説明表示" check box: the windows put their help box
  // in view or out of it by it.
  std::function<Qt::CheckState()> explanations;
  // Its box of the mails stored so far (Text4), and its help box (Text1).
  std::function<void(const QString&)> setStoredCount;
  std::function<void(const QString&)> setHelpText;
  // The automatic check's settings file was written: the main window reads
  // it again and sets its timer by it.
  std::function<void()> autoCheckChanged;
  // The viewer brings mail in (`done` false before, true after): what
  // another check stored before is told first, and what the user brought
  // in is no new mail.
  std::function<void(bool done)> importing;
};
inline MainWindowCalls MainWindow;

}  // namespace shared
