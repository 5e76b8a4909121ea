#pragma once
// The rows of a list of fixed-length records: row i (from 0) stands for
// record i + 1. The rows are kept as their bytes (whole records, or the
// part of each that holds the listed fields) and a cell is decoded when the
// view asks for it, so a full file lists at once and costs no decoding up
// front.
#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QStringList>

class QTreeView;

class RecordListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // A listed field: where it lies in a row's bytes, and its heading.
  struct Column {
    int offset;
    int width;
    QString heading;
  };

  RecordListModel(int rowLength, QList<Column> columns, QObject* parent);

  // Headings in place of the columns' own, in column order.
  void setHeadings(const QStringList& headings) { headings_ = headings; }

  // Replaces every row: rowLength bytes per row.
  void setRecords(QByteArray rows);
  void clear() { setRecords(QByteArray()); }
  // Drops one row; the rows after it move up one.
  void removeRecord(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // A cell as it is, for display only.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // A cell as the list holds it: the field up to its first NUL, in CP932.
  QString cell(int row, int column) const;

 private:
  const int rowLength_;
  const QList<Column> columns_;
  QStringList headings_;
  QByteArray rows_;
  int count_ = 0;
};

// `view` lists the rows of `model` as the record lists do: no tree, rows of
// one height, one whole row selected at a time, nothing edited in place,
// the columns in their order.
void setUpRecordList(QTreeView* view, RecordListModel* model);
