#pragma once
// The rows of the received-mail list: row i (from 0) stands for record i + 1.
// Only what the list shows is kept, as the bytes of the record's three
// header fields; a row's text is decoded when the view asks for it, so
// 32767 rows cost 9 MB and no decoding up front.
#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>

class MailListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { SubjectColumn = 0, FromColumn = 1, DateColumn = 2 };
  // The header fields lie together at the head of every record.
  static constexpr int kHeadLength = 280;

  explicit MailListModel(QObject* parent = nullptr);
  // The column headings, in column order (the received mail's unless told).
  void setHeadings(const QStringList& headings) { headings_ = headings; }

  // Replaces every row: `heads` holds kHeadLength bytes per row.
  void setHeads(QByteArray heads);
  void clear();
  // Drops one row; the rows after it move up one.
  void removeHead(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // A column's text as the list shows it: the field up to its first NUL.
  QString cell(int row, int column) const;

 private:
  QStringList headings_;
  QByteArray heads_;
  int rows_ = 0;
};
