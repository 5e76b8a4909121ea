#include "AddressListModel.h"

#include "platform/Text.h"
#include "store/Records.h"

namespace {
constexpr int L = store::AddressRecord::kLength;
}

AddressListModel::AddressListModel(QObject* parent) : QAbstractTableModel(parent) {}

void AddressListModel::setRecords(QByteArray records) {
  beginResetModel();
  rows_ = int(records.size() / L);
  records_ = std::move(records);
  endResetModel();
}

int AddressListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int AddressListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QString AddressListModel::cell(int row, int column) const {
  if (row < 0 || row >= rows_ || column < 0 || column > 1) return {};
  const store::Field f = column == AddressColumn ? store::AddressRecord::kAddress : store::AddressRecord::kName;
  // A NUL byte is never part of a double-byte character: cutting the bytes
  // cuts the text at the same place.
  const QByteArray bytes =
      text::CutAtNul(QByteArray::fromRawData(records_.constData() + qsizetype(row) * L + f.offset, f.width));
  return text::fromCp932(bytes.constData(), bytes.size());
}

QVariant AddressListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) return {};
  // Drawn as they are, padded fields would all end in an ellipsis.
  return text::trimRight(cell(index.row(), index.column()));
}

QVariant AddressListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  if (section == AddressColumn) return QStringLiteral("Address");
  if (section == NameColumn) return QStringLiteral("Name");
  return {};
}
