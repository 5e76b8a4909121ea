// The POP3 and attachment calls of the mail library (MailLib.h) on
// Pop3Session, the MIME decoder and AttachmentFiles.
#include "AttachmentFiles.h"
#include "MailLib.h"
#include "MailLibCommon.h"
#include "Pop3Session.h"
#include "mime/MimeDecode.h"
#include "platform/Charset.h"
#include "platform/Text.h"

#include <climits>
#include <map>

using namespace maillib;

namespace {

struct Pop3Handle {
  std::unique_ptr<Pop3Session> session;
  // The message fetched last: the status call fetches it whole once, so the
  // fetch that follows does not ask the server again.
  int cachedNumber = 0;
  QByteArray cached;
  bool uidsRead = false;
  bool uidsKnown = false;
  QList<QByteArray> uids;
};

std::map<int, std::unique_ptr<Pop3Handle>> g_handles;
int g_nextHandle = 1;
// The raw bytes of the last message fetched, decoded by MailLibAttachmentFileFirst.
QByteArray g_lastMessage;
// Attached files written but not yet flushed: they reach the disk before the
// next deletion on the server (one flush for a whole run of mails).
QStringList g_unflushedFiles;

bool flushAttachments() {
  if (g_unflushedFiles.isEmpty()) return true;
  QString error;
  if (!flushFiles(g_unflushedFiles, &error)) {
    setLastError(error);
    return false;
  }
  g_unflushedFiles.clear();
  return true;
}

Pop3Handle* handleOf(int handle) {
  auto it = g_handles.find(handle);
  if (it == g_handles.end()) {
    setLastError(QStringLiteral("POP3サーバーに接続していません。"));
    return nullptr;
  }
  return it->second.get();
}

bool fetch(Pop3Handle* h, int number) {
  if (h->cachedNumber == number) return true;
  h->cachedNumber = 0;
  h->cached.clear();
  QByteArray message;
  if (!h->session->retrieve(number, &message)) {
    setLastError(h->session->error());
    return false;
  }
  h->cached = std::move(message);
  h->cachedNumber = number;
  return true;
}

// The subject, date and sender decoded from a header block, and the block
// itself as text.
void fillHeaders(const QByteArray& header, QString& subject, QString& date, QString& from, QString& headerText) {
  fillBuffer(subject, decodeHeaderText(rawHeaderField(header, "Subject")));
  fillBuffer(date, decodeHeaderText(rawHeaderField(header, "Date")));
  QByteArray f = rawHeaderField(header, "From");
  if (f.isEmpty()) f = rawHeaderField(header, "Sender");
  fillBuffer(from, decodeAddresses(f));
  fillBuffer(headerText, charset::decodeGuess(header));
}

}  // namespace

int MailLibPop3Connect(const QString& server) {
  ensureInitialized();
  QString error;
  const std::optional<ServerAddress> address = parseServer(server, Protocol::Pop3, &error);
  if (!address) {
    setLastError(error);
    return -1;
  }
  QByteArray greeting;
  std::unique_ptr<Pop3Link> link = g_pop3LinkFactory ? g_pop3LinkFactory(*address, &greeting, &error)
                                                     : openCurlLink(*address, &greeting, &error);
  if (!link) {
    setLastError(error);
    return -1;
  }
  auto h = std::make_unique<Pop3Handle>();
  h->session = std::make_unique<Pop3Session>(std::move(link), greeting, address->host);
  h->session->readCapabilities();
  if (!h->session->alive()) {
    setLastError(h->session->error());
    return -1;
  }
  while (g_handles.count(g_nextHandle) || g_nextHandle <= 0) g_nextHandle = g_nextHandle <= 0 ? 1 : g_nextHandle + 1;
  const int id = g_nextHandle++;
  g_handles[id] = std::move(h);
  return id;
}

int MailLibPop3Authenticate(int handle, const QString& userId, const QString& password, int apop) {
  Pop3Handle* h = handleOf(handle);
  if (!h) return -1;
  const int n = h->session->login(text::toCp932(userId), text::toCp932(password), apop != 0);
  if (n < 0) setLastError(h->session->error());
  return n;
}

int MailLibPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& from,
                             QString& header, int) {
  Pop3Handle* h = handleOf(handle);
  if (!h || !fetch(h, number)) return -1;
  fillHeaders(h->cached.left(bodyOffset(h->cached)), subject, date, from, header);
  return 0;
}

int MailLibPop3GetMailSize(int handle, int number) {
  Pop3Handle* h = handleOf(handle);
  if (!h) return -1;
  const qint64 size = h->session->size(number);
  if (size < 0) {
    setLastError(QStringLiteral("%1 番のメールはありません。").arg(number));
    return -1;
  }
  return int(std::min<qint64>(size, INT_MAX - 1));
}

int MailLibPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from, QString& header,
                       QString& body, int, int) {
  Pop3Handle* h = handleOf(handle);
  if (!h || !fetch(h, number)) return -1;
  const qsizetype bodyAt = bodyOffset(h->cached);
  fillHeaders(h->cached.left(bodyAt), subject, date, from, header);
  // The body as it came, MIME structure and all: the caller looks into it
  // before MailLibAttachmentFileFirst makes it readable. 7-bit mail (base64,
  // ISO-2022-JP …) is shown as its characters; 8-bit text in its charset.
  const QByteArray raw = QByteArray::fromRawData(h->cached.constData() + bodyAt, h->cached.size() - bodyAt);
  fillBuffer(body, charset::isSevenBit(raw) ? QString::fromLatin1(raw) : charset::decodeGuess(raw));
  g_lastMessage = h->cached;
  return 0;
}

int MailLibPop3GetUidl(int handle, int number, QString& uid) {
  Pop3Handle* h = handleOf(handle);
  if (!h) return -1;
  if (!h->uidsRead) {
    h->uidsRead = true;
    h->uidsKnown = h->session->uniqueIds(&h->uids);
  }
  if (!h->uidsKnown || number < 1 || number > h->uids.size() || h->uids[number - 1].isEmpty()) {
    setLastError(h->session->alive() ? QStringLiteral("サーバーはメールの固有IDを返しません。") : h->session->error());
    return -1;
  }
  uid = QString::fromLatin1(h->uids[number - 1]);
  return 0;
}

int MailLibPop3DeleteMail(int handle, int number) {
  Pop3Handle* h = handleOf(handle);
  if (!h) return -1;
  if (h->cachedNumber == number) {
    h->cachedNumber = 0;
    h->cached.clear();
  }
  // A mail's files are on the disk before the server is asked to delete it.
  if (!flushAttachments()) return -1;
  if (!h->session->remove(number)) {
    setLastError(h->session->error());
    return -1;
  }
  return 0;
}

int MailLibPop3Close(int handle) {
  auto it = g_handles.find(handle);
  if (it == g_handles.end()) return -1;
  flushAttachments();
  const bool ok = it->second->session->quit();
  if (!ok) setLastError(it->second->session->error());
  g_handles.erase(it);
  return ok ? 0 : -1;
}

int MailLibAttachmentFileFirst(int, QString& subject, QString& date, QString& from, QString&, QString& body,
                               const QString& folder, const QString&, QString& messageText, int) {
  // The message as fetched; without one, the message text handed over.
  QByteArray raw = !g_lastMessage.isEmpty() ? g_lastMessage : text::toCp932(text::CutAtNul(messageText));
  AttachmentFolder files(folder);
  const DecodedMail mail = decodeMail(std::move(raw), &files);
  fillBuffer(subject, mail.subject);
  fillBuffer(date, mail.date);
  fillBuffer(from, mail.from);
  // The readable text may outgrow the buffer sized for the raw body (bare LF
  // made CR LF): the buffer grows rather than cut the text.
  if (body.size() < mail.body.size() + 1) body.resize(mail.body.size() + 1, QChar(u' '));
  fillBuffer(body, mail.body);
  if (files.failed()) {
    setLastError(files.error());
    return -5;
  }
  g_unflushedFiles += files.written();
  return mail.partial ? -6 : (files.written().isEmpty() ? 0 : 1);
}

int MailLibAttachmentFileClose(int) {
  g_lastMessage = QByteArray();
  return 0;
}
