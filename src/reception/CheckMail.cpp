#include "CheckMail.h"

#include "platform/MsgBox.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "reception/Charsets.h"
#include "reception/MailLib.h"
#include "reception/ReceivedUids.h"
#include "settings/AccountSettings.h"
#include "settings/IdPassForm.h"
#include "shell/MainForm.h"
#include "shell/SharedState.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>

namespace {

constexpr int kHeaderBufferLength = 8192;
const QString kAttachmentLine = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
const QString kLeftOnServer = QStringLiteral("このメールと、まだ受信していないメールはサーバーに残してあります。");

void printLine(const QString& s) {
  std::fprintf(stderr, "%s\n", s.toUtf8().constData());
  std::fflush(stderr);
}

// Where a check reports: the main window's controls, or standard error when
// the check runs without windows.
class Report {
 public:
  Report() : main_(MainForm::instance()) {}
  bool windows() const { return main_ != nullptr; }
  void help(const QString& t) {
    if (main_) {
      main_->Text1->setPlainText(t);
    } else {
      printLine(t);
    }
  }
  void status(const QString& t) {
    if (main_) {
      main_->Text3->setText(t);
    } else {
      printLine(t);
    }
  }
  void count(int n) {
    if (main_) {
      main_->Text6->setText(QString::number(n));
    } else {
      printLine(QStringLiteral("新着数: %1").arg(n));
    }
  }
  // The shop's event ("イベント確認").
  void event() {
    if (main_) main_->mkakunin->trigger();
  }
  bool autoShowViewer() const { return main_ && main_->Check2->isChecked(); }
  // "メールを見る".
  void showViewer() {
    if (main_) main_->Command6->click();
  }

 private:
  QPointer<MainForm> main_;
};

// A buffer the library filled, up to its NUL, without copying it.
QStringView cut(const QString& s) {
  const qsizetype nul = s.indexOf(QChar(0));
  return nul < 0 ? QStringView(s) : QStringView(s).left(nul);
}

// ANSI (CP932) bytes; plain ASCII, as raw mail mostly is, as it stands.
QByteArray ansi(QStringView s) { return maillib::isSevenBit(s) ? s.toLatin1() : text::toCp932(s.toString()); }

bool onlyCrLfBreaks(QStringView s) {
  for (qsizetype i = s.indexOf(u'\n'); i >= 0; i = s.indexOf(u'\n', i + 1))
    if (i == 0 || s[i - 1] != u'\r') return false;
  for (qsizetype i = s.indexOf(u'\r'); i >= 0; i = s.indexOf(u'\r', i + 1))
    if (i + 1 >= s.size() || s[i + 1] != u'\n') return false;
  return true;
}

// The message text file "0.txt" holds one mail at a time. Between two mails
// it is renamed aside (to `spare`) instead of deleted, and renamed back and
// overwritten for the next: on ext4 without a journal every file creation
// scans the recently deleted inodes, and a file truncated to nothing is
// written out to the disk when closed; either made 0.txt the slowest step of
// a long check. No file of the name exists between two mails, as before.
class MessageTextFile {
 public:
  void setPath(const QString& path) {
    path_ = QFile::encodeName(path);
    spare_ = QFile::encodeName(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() +
                               QStringLiteral(".spare"));
  }
  ~MessageTextFile() {
    if (!spare_.isEmpty()) ::unlink(spare_.constData());
  }
  QString path() const { return QFile::decodeName(path_); }

  // Header and body written as ANSI lines, read back line by line, each
  // line ended by CR LF, then a NUL.
  QString writeAndReadBack(QStringView header, QStringView body) {
    ::rename(spare_.constData(), path_.constData());  // fails harmlessly when there is no spare
    QString messageText;
    int fd = ::open(path_.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const QByteArray bytes = ansi(header) + "\r\n" + ansi(body) + "\r\n";
      const bool written = ::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size() &&
                           ::ftruncate(fd, off_t(bytes.size())) == 0;
      ::close(fd);
      fd = written ? ::open(path_.constData(), O_RDONLY | O_CLOEXEC) : -1;
    }
    if (fd >= 0) {
      struct stat st;
      QByteArray back;
      if (::fstat(fd, &st) == 0) {
        back.resize(qsizetype(st.st_size));
        const ssize_t got = ::read(fd, back.data(), size_t(back.size()));
        back.resize(got < 0 ? 0 : qsizetype(got));
      }
      ::close(fd);
      // Room for the line break and the NUL still to come.
      messageText.reserve(back.size() + 3);
      if (maillib::isSevenBit(back)) {
        messageText.append(QLatin1StringView(back));
      } else {
        messageText = text::fromCp932(back);
      }
      if (!onlyCrLfBreaks(messageText)) messageText = text::toCrLf(messageText);
      if (!messageText.isEmpty() && !messageText.endsWith(QStringLiteral("\r\n"))) messageText += QStringLiteral("\r\n");
    }
    messageText.append(QChar(0));
    return messageText;
  }

  void remove() { ::rename(path_.constData(), spare_.constData()); }

 private:
  QByteArray path_, spare_;
};

class Check {
 public:
  CheckOutcome run();

 private:
  enum class Step { Stored, Skipped, Stop };
  void readUids(int waiting);
  int fetchAll(int waiting);
  Step fetchOne(int number);
  bool commit();
  void libraryError();
  void stop(const QString& why);

  Report report_;
  QString subject_, date_, from_, header_;
  int handle_ = -1;
  int16_t attachFlag_ = 0;
  int count_ = 0;
  bool failed_ = false;

  // Mails stored but not yet deleted on the server, and whether the
  // received-mail file holds records not yet flushed to the disk.
  QList<int> pending_;
  qint64 pendingBytes_ = 0;
  bool unsynced_ = false;
  int stored_ = 0;
  // Resolved once per check: resolving lists a folder whenever the file does
  // not exist yet, and the attachment folder can hold thousands of files.
  QString recordFile_, attachFolder_;
  MessageTextFile textFile_;

  bool uidsKnown_ = false;
  QList<QByteArray> uids_;
  std::optional<ReceivedUidList> uidList_;

  // The body of the mail last staged, for the body box at the end.
  QString stagedBody_;
  bool bodyStaged_ = false;
};

void Check::libraryError() {
  int length = kHeaderBufferLength;
  MailLibGetErrorText(0, subject_, length);
  MsgBox(text::CutAtNul(subject_), MsgButtons::Ok, MsgIcon::None, QStringLiteral("エラー"));
}

void Check::stop(const QString& why) {
  MsgBox(why);
  failed_ = true;
}

CheckOutcome Check::run() {
  subject_ = date_ = from_ = header_ = QString(kHeaderBufferLength, QChar(u' '));
  attachFlag_ = 0;
  count_ = 0;
  AccountSettingsRecord& account = AccountSettings();

  if (account.Pop3Server.isEmpty()) {
    // The main window asks for the server at start-up; a run without
    // windows has nobody to ask.
    if (!report_.windows()) stop(QStringLiteral("POP3サーバーが設定されていません（pelkit.ini）。"));
  } else {
    handle_ = MailLibPop3Connect(account.Pop3Server);
    report_.help(QStringLiteral("メールのチェックをしています。"));
    if (handle_ == -1) {
      // Not "no new mail" with nothing said: the user learns why.
      libraryError();
      failed_ = true;
    } else {
      const AccountFileValues saved = ReadAccountFile();
      account.UserId = saved.id;
      account.Password = saved.password;
      IdPassForm* dialog = nullptr;
      bool dialogWasLoaded = false;
      if (report_.windows()) {
        dialogWasLoaded = IdPassForm::existing() != nullptr;
        dialog = IdPassForm::instance();
        dialog->IdText->setText(saved.id);
        dialog->PassText->setText(saved.password);
      }
      if (account.UserId.isEmpty() || account.Password.isEmpty()) {
        if (dialog) {
          dialog->showDialog();
        } else {
          stop(QStringLiteral("IDかパスワードが保存されていません。画面の「初期設定」→「ID/PASS」で保存して下さい。"));
        }
      } else {
        if (dialog && !dialogWasLoaded) dialog->deleteLater();  // loaded only to be filled
        count_ = MailLibPop3Authenticate(handle_, account.UserId, account.Password, account.ApopFlag != 0 ? -1 : 0);
        if (count_ >= 0) readUids(count_);
        if (count_ > 0) {
          count_ = fetchAll(count_);
        } else if (count_ < 0) {
          libraryError();
          failed_ = true;
        }
      }
      MailLibPop3Close(handle_);
    }
  }
  if (bodyStaged_) TyakuForm::instance()->rtfEd->setPlainText(stagedBody_);

  if (attachFlag_ > 0) {
    report_.status(QStringLiteral("添付ファイルメール。"));
    report_.event();
  }
  if (count_ < 1) {
    report_.status(QStringLiteral("新着メール無し。"));
  } else {
    report_.status(QStringLiteral("新着メール有り。"));
    report_.event();
  }
  report_.count(count_);
  if (count_ > 0 && report_.autoShowViewer()) report_.showViewer();
  return {failed_, count_};
}

void Check::readUids(int waiting) {
  // The IDs of the waiting mails; a server without them is served as
  // before (no mail skipped).
  uidsKnown_ = true;
  for (int i = 1; i <= waiting; ++i) {
    QString uid;
    if (MailLibPop3GetUidl(handle_, i, uid) != 0) {
      uidsKnown_ = false;
      return;
    }
    uids_.append(uid.toLatin1());
  }
  const AccountSettingsRecord& a = AccountSettings();
  uidList_.emplace(receivedUidsPath(), mailboxKey(a.UserId, a.Pop3Server));
  // An unreadable list must not be overwritten (it may hold other
  // accounts): go on without it.
  if (!uidList_->load()) {
    uidsKnown_ = false;
    return;
  }
  const int before = uidList_->size();
  uidList_->keepOnly(uids_);
  // With mail waiting the list is written before the first deletion; with
  // none, the IDs the server dropped are forgotten now.
  if (waiting == 0 && uidList_->size() != before) uidList_->save();
}

int Check::fetchAll(int waiting) {
  recordFile_ = paths::resolve(paths::kReceivedMailFile);
  attachFolder_ = paths::resolve(paths::kAttachFolder);
  textFile_.setPath(paths::resolveIn(attachFolder_, QFileInfo(paths::kMessageTextFile).fileName()));
  for (int i = 1; i <= waiting; ++i) {
    if (fetchOne(i) == Step::Stop) break;
    if ((pending_.size() >= kCommitMails || pendingBytes_ >= kCommitBytes) && !commit()) break;
  }
  commit();
  return stored_;
}

Check::Step Check::fetchOne(int i) {
  if (uidsKnown_ && uidList_->contains(uids_[i - 1])) {
    // Stored by an earlier check whose deletion the server undid.
    pending_.append(i);
    return Step::Skipped;
  }
  MailLibPop3GetMailStatus(handle_, i, subject_, date_, from_, header_, 0);
  const int size = MailLibPop3GetMailSize(handle_, i);
  QString body(std::max(size, 0) + 1, QChar(u' '));
  if (MailLibPop3GetMail(handle_, i, subject_, date_, from_, header_, body, 0, 0) < 0) {
    // Neither stored nor deleted: the mail waits on the server.
    libraryError();
    failed_ = true;
    return Step::Stop;
  }
  attachFlag_ = cut(body).contains(u"attachment", Qt::CaseSensitive) ? 1 : 0;

  QString messageText = textFile_.writeAndReadBack(cut(header_), cut(body));
  const int decoded = MailLibAttachmentFileFirst(0, subject_, date_, from_, header_, body, attachFolder_ + u'/',
                                                 textFile_.path(), messageText, 0);
  MailLibAttachmentFileClose(0);
  if (decoded == -5) {
    // A mail whose files cannot be saved stays on the server, so that
    // nothing of it is lost.
    textFile_.remove();
    MsgBox(QStringLiteral("添付ファイルをオープンできません"));
    failed_ = true;
    return Step::Stop;
  }
  if (decoded == -6) MsgBox(QStringLiteral("分割されたメールが全て揃っていません"));
  textFile_.remove();

  TyakuForm* viewer = TyakuForm::instance();
  viewer->Text7->setText(text::CutAtNul(subject_));
  viewer->Text8->setText(text::CutAtNul(from_));
  viewer->Text9->setText(text::CutAtNul(date_));
  // The body box is filled once, with the last mail, when the check ends:
  // nothing is drawn while a check runs, and laying out every body in the
  // box took half of a long check. The record gets what the box would give.
  stagedBody_ = text::CutAtNul(body);
  if (attachFlag_ == 1) stagedBody_ += QStringLiteral("\r\n") + kAttachmentLine;
  bodyStaged_ = true;

  const int number = store::appendNumberFor(QFileInfo(recordFile_).size(), store::MailRecord::kLength);
  if (number > store::kMaxRecords) {
    stop(QStringLiteral("受信メールのファイルは既に %1 件で一杯です。「メールを見る」画面で不要なメールを削除して下さい。\n")
             .arg(store::kMaxRecords) +
         kLeftOnServer);
    return Step::Stop;
  }
  QString why;
  if (!StoreReceivedMail(number, asBodyBoxText(stagedBody_), &why)) {
    stop(QStringLiteral("受信したメールを保存できません（%1）。\n").arg(why) + kLeftOnServer);
    return Step::Stop;
  }
  shared::CurrentRecordNumber = int16_t(number);
  unsynced_ = true;
  // Deleted on the server once the record is on the disk (commit).
  pending_.append(i);
  pendingBytes_ += std::max(size, 0);
  if (uidsKnown_) uidList_->add(uids_[i - 1]);
  ++stored_;
  return Step::Stored;
}

bool Check::commit() {
  if (pending_.isEmpty()) return true;
  const QList<int> numbers = std::exchange(pending_, {});
  pendingBytes_ = 0;
  if (unsynced_) {
    store::RecordFile records(recordFile_, store::MailRecord::kLength);
    if (!records.open() || !records.sync()) {
      stop(QStringLiteral("受信したメールをディスクに書き込めません（%1）。\nメールはサーバーに残してあります。")
               .arg(records.errorText()));
      return false;
    }
    unsynced_ = false;
  }
  if (uidsKnown_) {
    QString why;
    if (!uidList_->save(&why)) {
      stop(QStringLiteral("受信済みメールの記録「%1」を書き込めません（%2）。\nメールはサーバーに残してあります。")
               .arg(QDir::toNativeSeparators(receivedUidsPath()), why));
      return false;
    }
  }
  for (int i : numbers) {
    if (MailLibPop3DeleteMail(handle_, i) < 0) {
      // The connection is gone: the server keeps these mails, and the ID
      // list keeps them from being stored twice. Said once, not again after
      // the failed fetch that found the connection gone.
      if (!failed_) libraryError();
      failed_ = true;
      return false;
    }
  }
  return true;
}

}  // namespace

// What the body box gives back for `s`, with CR LF line ends: the box makes
// every kind of line break (CR LF, CR, LF, U+2028, U+2029) one.
QString asBodyBoxText(QString s) {
  s.replace(QChar(0x2028), u'\n');
  s.replace(QChar(0x2029), u'\n');
  return text::toCrLf(s);
}

CheckOutcome CheckMail() { return Check().run(); }

bool StoreReceivedMail(int recordNumber, const QString& body, QString* error) {
  TyakuForm* viewer = TyakuForm::instance();
  store::MailRecord& r = store::ReceivedMailBuffer();
  r.setSubject(text::trimSpaces(viewer->Text7->text()));
  r.setFrom(text::trimSpaces(viewer->Text8->text()));
  r.setDate(text::trimSpaces(viewer->Text9->text()));
  // Every two UTF-16 units make at least one byte: what lies beyond twice
  // the field's width is never stored, so it is not converted either.
  r.setBody(text::trimSpaces(body).left(2 * store::MailRecord::kBody.width));
  r.markWritten();
  store::RecordFile records(paths::resolve(paths::kReceivedMailFile), store::MailRecord::kLength);
  if (!records.open() || !records.write(recordNumber, r.bytes())) {
    if (error) *error = records.errorText();
    return false;
  }
  return true;
}

int RunHeadlessCheck() {
  setMsgBoxConsoleMode(true);
  // Mail passes through in pieces of up to a few megabytes, one mail after
  // another: freed pieces are kept for the next mail rather than handed back
  // to the system and faulted in again (the process ends with the check).
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  QString why;
  if (!store::ensureFile(paths::resolve(paths::kReceivedMailFile), &why)) {
    MsgBox(QStringLiteral("受信メールのファイルを開けません（%1）。\nプログラムフォルダ「%2」を確かめて下さい。")
               .arg(why, QDir::toNativeSeparators(paths::programFolder())));
    return 1;
  }
  LoadServerSettings();
  MailLibInitialize();
  MailLibSetOption(1, kHeaderBufferLength);
  const CheckOutcome outcome = CheckMail();
  MailLibEnd();
  return outcome.failed ? 1 : 0;
}
