#pragma once
// The mails already stored whose deletion on the server is not confirmed
// yet (the server answered QUIT with +OK), so that a mail the server still
// lists after a check broke off is deleted, not stored again. One small
// text file in the data folder, replaced atomically; the entries of each
// account are kept apart.
//
// A mail is known by its unique ID (UIDL) together with a digest of its
// header (MailIdentity): a server that gives a new mail an ID it used
// before has that mail stored, not deleted unread; a server without UIDL
// is served by the digest alone.
#include <QByteArray>
#include <QList>
#include <QString>

namespace received {

struct MailIdentity {
  QByteArray uid;     // empty: the server gave none
  QByteArray digest;  // mailDigest(); empty only in lists of older versions
  bool operator==(const MailIdentity&) const = default;
};

// Message-ID, Date and From of the header block, and the size the server
// listed, as 32 hex digits.
QByteArray mailDigest(const QByteArray& header, qint64 listedSize);

// What the identity files take back: an ID the server could have given and
// a digest mailDigest() could have made.
bool plausibleUid(const QByteArray& uid);
bool plausibleDigest(const QByteArray& digest);

class ReceivedUidList {
 public:
  // `account` tells one mailbox from another (user and server).
  ReceivedUidList(const QString& path, const QString& account);

  // A missing file is an empty list. False when the file cannot be read.
  bool load(QString* error = nullptr);
  // The list from the file's bytes, as load() reads them; the bytes save()
  // writes.
  void read(const QByteArray& file);
  QByteArray text() const;
  void add(const MailIdentity& id);
  // True when `id` is a mail stored before. Each entry answers for one mail
  // of a session: two mails that look alike are both matched only when
  // both were stored.
  bool claim(const MailIdentity& id);
  // Forgets one entry of `id` (its deletion was confirmed).
  void forget(const MailIdentity& id);
  // Forgets this account's entries whose ID the server no longer lists.
  void keepOnly(const QList<QByteArray>& listed);
  // Forgets the entries without an ID that no mail of this session claimed
  // (a server without UIDL whose mails were all looked at).
  void dropUnclaimedWithoutUid();
  // Writes the list: the whole old or the whole new file, on the disk when
  // this returns true.
  bool save(QString* error = nullptr) const;
  int size() const { return int(mine_.size()); }
  bool contains(const QByteArray& uid) const;

 private:
  struct Entry {
    MailIdentity id;
    bool claimed = false;
  };
  QString path_;
  QByteArray account_;         // percent-encoded, as written in the file
  QList<Entry> mine_;
  QList<QByteArray> others_;   // lines of other accounts, kept as they were
};

// Where the list lives: "★MAilData/received-uids.txt" below the program folder.
QString receivedUidsPath();

}  // namespace received
