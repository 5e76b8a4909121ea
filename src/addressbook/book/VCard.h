#pragma once
// vCard files as phones and desktop address books write them, reduced to
// what an address book entry holds: a name and one mail address. Reading
// takes vCard 2.1, 3.0 and 4.0 (folded lines, quoted-printable and base64
// values, CHARSET parameters, escapes); writing gives vCard 3.0 in UTF-8.
#include <QByteArray>
#include <QList>
#include <QString>

namespace vcard {

struct Card {
  // FN; without one, the name parts of N (family and given name).
  QString name;
  // The EMAIL marked preferred (TYPE=PREF, a bare PREF, or the lowest
  // PREF=n), else the first one; empty when the card has none.
  QString email;
  // The address as this program's book held it when that is more than the
  // bare address (a named address such as 日本太郎<taro@example.jp>):
  // written as X-TOMOSHIBI-ADDRESS, so that a book comes back unchanged.
  QString bookAddress;

  bool operator==(const Card&) const = default;
};

// Every card of the file, in file order. Text outside BEGIN:VCARD …
// END:VCARD and cards nested in a card (AGENT) are passed over. A value
// without a CHARSET is UTF-8 when it is valid UTF-8, else CP932, as older
// Japanese phones write it.
QList<Card> parse(const QByteArray& file);

// vCard 3.0, UTF-8, CR LF, lines folded at 75 bytes. Every card gets FN and
// N; EMAIL only when it is not empty.
QByteArray write(const QList<Card>& cards);

}  // namespace vcard
