#pragma once
// What a user reads when the files of received mail fail: the store's
// codes (store/received/Fault.h) and the attachment folder's
// (AttachmentFault.h) worded for the windows and the headless entries,
// which show them.
#include "AttachmentFault.h"
#include "store/received/Fault.h"

#include <QString>

namespace reception {

QString faultText(const received::Fault& fault);
QString attachmentFaultText(const maillib::AttachmentFault& fault);

}  // namespace reception
