#pragma once
// The mail library: every POP3, SMTP and attachment-decoding operation of the
// program goes through these calls. Their shapes are fixed; how they work
// inside (libcurl for the protocols, GMime for MIME) is this library's own.
//
// Buffers: a caller hands a text of fixed length (8192 characters for the
// header and error buffers, message size + 1 for a body); the library writes
// the value followed by a NUL into it, and the caller cuts it at the NUL.
#include <QString>

int MailLibInitialize();
int MailLibSetOption(int option, int value);
int MailLibEnd();

// POP3. A handle stands for one server connection, from authenticate to
// close; -1 = no connection could be prepared.
int MailLibPop3Connect(const QString& server);
// Messages waiting (> 0), none (0), or a failure (< 0; see MailLibGetErrorText).
// `apop` is -1 for APOP, 0 for a plain USER/PASS login.
int MailLibPop3Authenticate(int handle, const QString& userId, const QString& password, int apop);
int MailLibPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& from,
                             QString& header, int flag);
int MailLibPop3GetMailSize(int handle, int number);
int MailLibPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from, QString& header,
                       QString& body, int flag1, int flag2);
// Writes the attached files of the message last fetched into `folder`;
// 1 = files written, 0 = none, -5 = a file could not be written, -6 = the
// parts of a split message are not all present. May rewrite the buffers.
int MailLibAttachmentFileFirst(int flag, QString& subject, QString& date, QString& from, QString& header,
                               QString& body, const QString& folder, const QString& messageTextFile,
                               QString& messageText, int flag2);
int MailLibAttachmentFileClose(int flag);
int MailLibPop3DeleteMail(int handle, int number);
// The server's unique ID of message `number` (UIDL); -1 when the server has
// none (the ID list is read once per session).
int MailLibPop3GetUidl(int handle, int number, QString& uid);
// Ends the session: the deletions of the session take effect (QUIT).
int MailLibPop3Close(int handle);

// The text of the last failure: the server's own reply or a plain sentence,
// never empty after a failure.
int MailLibGetErrorText(int flag, QString& buffer, int& length);

// One mail sent; a negative result is a failure. `to` may hold several
// addresses separated by commas or semicolons; `attachments` is the
// comma-separated list of full paths (empty: none). `cc` and `bcc` are
// never used by the program and may be null. `header`, when not null, holds
// further header fields ("Name: value" lines, CR LF between them) for the
// message, as a reply carries In-Reply-To and References; a field that is
// not plain ASCII or that the library writes itself fails the send.
//
// kSmtpSendUncertain: the whole mail and its final dot went out, but the
// server's answer never came (it stalled or the connection broke). The
// server may have taken the mail: it must not be called a failure that can
// simply be sent again.
inline constexpr int kSmtpSendUncertain = -2;
int MailLibSmtpSendMail(const QString& server, const QString& to, const QString* cc, const QString* bcc,
                        const QString& from, const QString& subject, const QString& body, const QString* header,
                        const QString& attachments, int flag);
