#pragma once
// Submitting one mail: its envelope checked, its message built, and both
// handed to a link with the login the caller gives.
#include "MimeBuild.h"
#include "SmtpLink.h"

#include <optional>

namespace maillib {

// The envelope of `mail`: every address of `to` and of `unlisted`, and the
// first address of `from`. Fails with NoRecipient, BadRecipient (detail:
// the address), NoSender or BadSender; an address with a line break or
// another control character, a space or an angle bracket is refused, as it
// would smuggle a command into the dialogue.
std::optional<Envelope> envelopeOf(const OutgoingMail& mail, Result* failure);

// The mail sent over `link`, logging in with `login` when the server offers
// AUTH. Ok; a failure of the envelope or the message (nothing went out); or
// what the link came to (SmtpLink::transfer), uncertain included.
// `message`, when not null, gets the bytes handed to the link.
Result submit(const OutgoingMail& mail, const Credentials& login, SmtpLink& link, QByteArray* message = nullptr);

}  // namespace maillib
