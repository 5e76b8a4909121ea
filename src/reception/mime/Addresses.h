#pragma once
// Address headers (From, Sender, To …) as a person reads them: RFC 5322
// address lists with their display names, quoted or in comments, encoded
// or in raw 8-bit text.
#include <QByteArray>
#include <QString>

namespace maillib {

// "name <address>" per address, the address alone when there is no name (or
// the name is the address); several joined by ", ". Commas inside quotes,
// comments and angle brackets do not part addresses.
QString decodeAddresses(const QByteArray& raw);

}  // namespace maillib
