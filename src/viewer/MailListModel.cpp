#include "MailListModel.h"

#include "platform/Text.h"
#include "store/Records.h"

namespace {
store::Field fieldOf(int column) {
  switch (column) {
    case MailListModel::SubjectColumn:
      return store::MailRecord::kSubject;
    case MailListModel::FromColumn:
      return store::MailRecord::kFrom;
    default:
      return store::MailRecord::kDate;
  }
}
}  // namespace

static_assert(store::MailRecord::kBody.offset == MailListModel::kHeadLength,
              "the list reads the three header fields in one piece");

MailListModel::MailListModel(QObject* parent) : QAbstractTableModel(parent) {}

void MailListModel::setHeads(QByteArray heads) {
  beginResetModel();
  rows_ = int(heads.size() / kHeadLength);
  heads_ = std::move(heads);
  endResetModel();
}

void MailListModel::clear() { setHeads(QByteArray()); }

void MailListModel::removeHead(int row) {
  if (row < 0 || row >= rows_) return;
  beginRemoveRows(QModelIndex(), row, row);
  heads_.remove(qsizetype(row) * kHeadLength, kHeadLength);
  --rows_;
  endRemoveRows();
}

int MailListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int MailListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QString MailListModel::cell(int row, int column) const {
  if (row < 0 || row >= rows_ || column < 0 || column > 2) return {};
  const store::Field f = fieldOf(column);
  // A NUL byte is never part of a double-byte character, so cutting the bytes
  // cuts the text at the same place.
  const char* field = heads_.constData() + qsizetype(row) * kHeadLength + f.offset;
  const QByteArray bytes = text::CutAtNul(QByteArray::fromRawData(field, f.width));
  return text::fromCp932(bytes.constData(), bytes.size());
}

QVariant MailListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return cell(index.row(), index.column());
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  if (section >= 0 && section < headings_.size()) return headings_[section];
  switch (section) {
    case SubjectColumn:
      return QStringLiteral("Subject");
    case FromColumn:
      return QStringLiteral("From");
    case DateColumn:
      return QStringLiteral("Date");
    default:
      return {};
  }
}
