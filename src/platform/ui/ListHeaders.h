#pragma once
// The column headings of the mail list and the address list, drawn by the
// program: each heading a steel-blue field with a soft raised edge (flat
// while pressed) and white text. The drawing is a style installed on the
// list's header only, so the rest of the list looks as it always does.
#include <QColor>

class QAbstractItemView;
class QHeaderView;

namespace listheaders {
inline const QColor kFace(58, 119, 165);
inline const QColor kText(255, 255, 255);
}  // namespace listheaders

// Installs the heading drawing on the list's column header (a tree view's
// header, a table view's horizontal header). Hooking a list that is already
// hooked changes nothing.
void HookListHeaders(QAbstractItemView* list);
void HookListHeaders(QHeaderView* header);

// Gives the header back the style it had before the hook. Unhooking a list
// that is not hooked changes nothing.
void UnhookListHeaders(QAbstractItemView* list);
void UnhookListHeaders(QHeaderView* header);

bool listHeadersHooked(const QHeaderView* header);
