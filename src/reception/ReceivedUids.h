#pragma once
// The unique IDs (UIDL) of the mails already stored, so that a mail the server
// still lists after a check broke off between its deletion and the end of the
// session (the server then restores it) is deleted, not stored again. One
// small text file in the data folder, replaced atomically; the IDs of each
// account are kept apart.
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

class ReceivedUidList {
 public:
  // `account` tells one mailbox from another (user and server).
  ReceivedUidList(const QString& path, const QString& account);

  // A missing file is an empty list. False when the file cannot be read.
  bool load(QString* error = nullptr);
  bool contains(const QByteArray& uid) const { return mine_.contains(uid); }
  void add(const QByteArray& uid);
  // Forgets this account's IDs the server no longer lists.
  void keepOnly(const QList<QByteArray>& listed);
  // Writes the list: the whole old or the whole new file, on the disk when
  // this returns true.
  bool save(QString* error = nullptr) const;
  int size() const { return int(mine_.size()); }

 private:
  QString path_;
  QByteArray account_;         // percent-encoded, as written in the file
  QSet<QByteArray> mine_;
  QList<QByteArray> others_;   // lines of other accounts, kept as they were
};

// Where the list lives: "★MAilData/received-uids.txt" below the program folder.
QString receivedUidsPath();
// The mailbox a list belongs to: the user at the server's host. Port and
// TLS are ways to reach the mailbox, not another mailbox.
QString mailboxKey(const QString& userId, const QString& pop3Server);
