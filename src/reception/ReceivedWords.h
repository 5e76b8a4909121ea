#pragma once
// What a user reads when the files of received mail fail: the store's
// codes (store/received/Fault.h) worded for the windows and the headless
// entries, which show them.
#include "store/received/Fault.h"

#include <QString>

namespace reception {

QString faultText(const received::Fault& fault);

}  // namespace reception
