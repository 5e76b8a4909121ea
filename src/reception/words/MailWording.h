#pragma once
// The mail library's results in the user's words: every sentence a failed
// check or send shows about a server, the connection or the mail. The
// library returns codes and details (reception/maillib/MailResult.h); this
// is the one place that words them, a library of its own just above the
// mail library, which both the mail check and sending reach.
#include "platform/ServerCertificate.h"
#include "reception/maillib/MailResult.h"
#include "settings/secrets/Secrets.h"

#include <QString>

namespace wording {

// A failure on the way to the POP3 server or in the conversation with it.
QString pop3Failure(const maillib::Result& r);
// A failure to send one mail (uncertain sends included).
QString sendFailure(const maillib::Result& r);
// Said under a CertificateUnverified failure once the certificate was
// fetched: its fingerprint, for the user to compare with the one the
// server's administrator gives, and whether it names another server.
QString certificateSummary(const ServerCertificate& certificate);
// The saved password kept back by the desktop keyring, for a check or a
// send alike: `status` Locked with `mayAsk` false (--check, --send: nobody
// may be asked to unlock it), Locked when an unlock was asked for and not
// given, or another failure (`detail`: the keyring's own words).
QString keyringFailure(secrets::Status status, const QString& detail, bool mayAsk);
// An account signed in with OAuth 2.0 without a usable token: never
// signed in, or the provider no longer takes the sign-in of `user` (the
// browser sign-in of the server dialog is the way on); the refresh token
// in a locked keyring (`mayAsk` false: nobody may be asked to unlock it);
// no token now for another reason (`unreachable`: the provider's token
// endpoint was not reached, so it may pass).
QString signInNeeded(const QString& user);
QString tokenLocked(bool mayAsk);
QString tokenUnavailable(const QString& detail, bool unreachable);

}  // namespace wording

// The error-text call of the mail library: the text of what the last
// MailLibSmtpSendMail came to, written with a NUL into `buffer` (made
// `length` long when shorter); `length` gets the text's length.
int MailLibGetErrorText(int flag, QString& buffer, int& length);
