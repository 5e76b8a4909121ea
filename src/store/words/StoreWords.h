#pragma once
// The record files' failures (store/RecordFile.h) in the user's words: the
// one place that words them, for every window and the headless entries.
#include "store/RecordFile.h"

#include <QString>

namespace store {

QString failureText(const StoreFailure& failure);

}  // namespace store
