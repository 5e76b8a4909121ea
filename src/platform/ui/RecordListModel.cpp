#include "RecordListModel.h"

#include "platform/Text.h"

#include <QHeaderView>
#include <QTreeView>

RecordListModel::RecordListModel(int rowLength, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), rowLength_(rowLength), columns_(std::move(columns)) {}

void RecordListModel::setRecords(QByteArray rows) {
  beginResetModel();
  count_ = int(rows.size() / rowLength_);
  rows_ = std::move(rows);
  endResetModel();
}

void RecordListModel::removeRecord(int row) {
  if (row < 0 || row >= count_) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.remove(qsizetype(row) * rowLength_, rowLength_);
  --count_;
  endRemoveRows();
}

int RecordListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int RecordListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(columns_.size());
}

QString RecordListModel::cell(int row, int column) const {
  if (row < 0 || row >= count_ || column < 0 || column >= columns_.size()) return {};
  const Column& c = columns_[column];
  // A NUL byte is never part of a double-byte character: cutting the bytes
  // cuts the text at the same place.
  const QByteArray bytes =
      text::CutAtNul(QByteArray::fromRawData(rows_.constData() + qsizetype(row) * rowLength_ + c.offset, c.width));
  return text::fromCp932(bytes.constData(), bytes.size());
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return cell(index.row(), index.column());
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  if (section >= 0 && section < headings_.size()) return headings_[section];
  if (section >= 0 && section < columns_.size()) return columns_[section].heading;
  return {};
}

void setUpRecordList(QTreeView* view, RecordListModel* model) {
  view->setModel(model);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->header()->setSectionsMovable(false);
}
