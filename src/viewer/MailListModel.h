#pragma once
// The rows of the received-mail list: row i (from 0) stands for record i + 1.
// Only what the list shows is kept, as the bytes of the record's three
// header fields (platform/ui/RecordListModel.h): 32767 rows cost 9 MB.
#include "platform/ui/RecordListModel.h"

class MailListModel : public RecordListModel {
  Q_OBJECT
 public:
  enum Column { SubjectColumn = 0, FromColumn = 1, DateColumn = 2 };
  // The header fields lie together at the head of every record; a row is
  // that head.
  static constexpr int kHeadLength = 280;

  // Headed with the received mail's headings unless told (setHeadings).
  explicit MailListModel(QObject* parent = nullptr);
};
