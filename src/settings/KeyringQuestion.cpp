#include "KeyringQuestion.h"

#include "platform/ui/MsgBox.h"
#include "settings/files/AccountSettings.h"
#include "settings/secrets/Secrets.h"

void OfferKeyringMove() {
  if (!KeyringMoveWanted()) return;
  const MsgResult answer =
      MsgBox(QStringLiteral("パスワードがこのコンピュータのファイルに保存されています。\n"
                            "デスクトップのキーリングに移しますか？\n\n"
                            "移すと、パスワードはキーリングだけに入り、ファイルからは消えます。"
                            "「いいえ」を選ぶとファイルのままにして、次からはお尋ねしません。"),
             MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認"));
  if (answer != MsgResult::Yes) {
    DeclineKeyringMove();
    return;
  }
  QString detail;
  const secrets::Status s = MovePasswordToKeyring(&detail);
  if (s == secrets::Status::Ok) return;
  MsgBox(QStringLiteral("パスワードをキーリングに移せませんでした（%1）。\n"
                        "パスワードはファイルに残してあります。次に起動したときにもう一度お尋ねします。")
             .arg(s == secrets::Status::Locked ? QStringLiteral("ロックが解除されませんでした")
                  : detail.isEmpty()           ? QStringLiteral("キーリングが応答しません")
                                               : detail),
         MsgButtons::Ok, MsgIcon::Exclamation);
}
