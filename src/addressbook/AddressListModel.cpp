#include "AddressListModel.h"

#include "platform/Text.h"
#include "store/Records.h"

AddressListModel::AddressListModel(QObject* parent)
    : RecordListModel(store::AddressRecord::kLength,
                      {{store::AddressRecord::kAddress.offset, store::AddressRecord::kAddress.width,
                        QStringLiteral("Address")},
                       {store::AddressRecord::kName.offset, store::AddressRecord::kName.width, QStringLiteral("Name")}},
                      parent) {}

QVariant AddressListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) return {};
  // Drawn as they are, padded fields would all end in an ellipsis.
  return text::trimRight(cell(index.row(), index.column()));
}
