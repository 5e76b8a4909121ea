#include "MailListModel.h"

#include "store/Records.h"

static_assert(store::MailRecord::kBody.offset == MailListModel::kHeadLength,
              "the list reads the three header fields in one piece");

MailListModel::MailListModel(QObject* parent)
    : RecordListModel(kHeadLength,
                      {{store::MailRecord::kSubject.offset, store::MailRecord::kSubject.width, QStringLiteral("Subject")},
                       {store::MailRecord::kFrom.offset, store::MailRecord::kFrom.width, QStringLiteral("From")},
                       {store::MailRecord::kDate.offset, store::MailRecord::kDate.width, QStringLiteral("Date")}},
                      parent) {}
