#pragma once
// The rows of the address book window's list: row i (from 0) stands for
// record i + 1. The records are kept as their bytes and a cell is decoded
// when the view asks for it, so a full book lists at once.
#include <QAbstractTableModel>
#include <QByteArray>

class AddressListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { AddressColumn = 0, NameColumn = 1 };

  explicit AddressListModel(QObject* parent = nullptr);

  // Replaces every row: 184 bytes per record.
  void setRecords(QByteArray records);
  void clear() { setRecords(QByteArray()); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // A cell as the list holds it: the field up to its first NUL, its space
  // padding kept. It is drawn without the trailing padding.
  QString cell(int row, int column) const;

 private:
  QByteArray records_;
  int rows_ = 0;
};
