#pragma once
// The texts a reply is made of beyond what the user types: the thread
// header fields that let the recipient's mail program show the reply under
// the mail it answers, and the body "本文に貼付" builds. No window here.
#include <QByteArray>
#include <QString>

// The header block of a whole message as the server sent it: its lines up
// to, not including, the first empty line (the whole text when none).
QByteArray messageHeaderBlock(const QByteArray& message);

// "In-Reply-To" and "References" for a reply to the mail whose header block
// is `originalHeader`, as header lines joined by CR LF: In-Reply-To names
// the original's Message-ID; References lists the original's References
// (or, lacking them, its one In-Reply-To) followed by its Message-ID,
// folded to short lines. Only well-formed identifiers are taken, so nothing
// of the original can add a line or a field of its own. Empty when the
// original has no usable Message-ID: there is nothing to thread under.
QString replyThreadHeaders(const QByteArray& originalHeader);

// The body "本文に貼付" builds: the clipboard's text, three line breaks and
// a carriage return, then the answered mail's body field (up to its first
// NUL) without spaces at either end.
QString pastedReplyBody(const QString& clipboard, const QString& answeredBodyField);
