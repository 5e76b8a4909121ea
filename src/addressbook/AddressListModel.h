#pragma once
// The rows of the address book window's list: row i (from 0) stands for
// record i + 1, kept whole as its 184 bytes (platform/ui/RecordListModel.h).
#include "platform/ui/RecordListModel.h"

class AddressListModel : public RecordListModel {
  Q_OBJECT
 public:
  enum Column { AddressColumn = 0, NameColumn = 1 };

  explicit AddressListModel(QObject* parent = nullptr);

  // A cell is drawn, and read out, without its space padding; cell() keeps it.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};
