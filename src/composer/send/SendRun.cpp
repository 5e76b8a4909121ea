#include "SendRun.h"

#include "addressbook/book/AddressBook.h"
#include "platform/Text.h"

#include <QStringList>

SendTurn SendRun::send(const QString& recipient, const QString& field) {
  if (hooks_.starting) hooks_.starting(field);
  SendTurn turn{field, recipient, {}};
  if (stopped_) {
    turn.skipped = true;
    return finish(turn);
  }
  turn.outcome = SendOneMail(recipient, mail_.subject, mail_.body, mail_.attachments, mail_.header,
                                secrets::Prompt::Allowed, &session_);
  if (turn.outcome.unverified && !certificateAsked_) {
    // Nothing but the handshake went to the server: once the user trusts
    // its certificate the mail goes at once.
    certificateAsked_ = true;
    if (!hooks_.trust || !hooks_.trust(*turn.outcome.unverified)) {
      stopped_ = true;
      turn.skipped = true;
      return finish(turn);
    }
    turn.outcome = SendOneMail(recipient, mail_.subject, mail_.body, mail_.attachments, mail_.header,
                                secrets::Prompt::Allowed, &session_);
  }
  // The other recipients wait with the mail for the sign-in.
  if (turn.outcome.needsSignIn) stopped_ = true;
  return finish(turn);
}

SendTurn SendRun::finish(const SendTurn& turn) {
  if (hooks_.ended) hooks_.ended(turn);
  return turn;
}

QString ServedKey(const QString& field) { return text::trimSpaces(field).toLower(); }

QList<SendTurn> SendToEveryAddress(const OutgoingMail& mail, QSet<QString>& served, SendRunHooks hooks) {
  // Read whole before the first turn: no file stays open across a box.
  const addressbook::Listing book = addressbook::readAll();
  QStringList fields;
  for (int row = 0; row < book.rows; ++row) fields << book.entry(row).address();
  if (hooks.counted) {
    QSet<QString> unserved;
    for (const QString& f : fields)
      if (!served.contains(ServedKey(f))) unserved.insert(ServedKey(f));
    hooks.counted(int(unserved.size()));
  }
  SendRun run(mail, std::move(hooks));
  QList<SendTurn> turns;
  for (const QString& field : fields) {
    const QString key = ServedKey(field);
    if (served.contains(key)) continue;
    turns << run.send(text::trimRight(field), field);
    if (turns.last().served()) served.insert(key);
  }
  return turns;
}
