#pragma once
#include "assets/AssetsTypes.h"

namespace kestrel::ui {

// List columns, in order.
enum class ListColumn { Number = 0, Name = 1, Type = 2, Size = 3, Offset = 4 };

// Sorts the list rows ascending by a column, starting from their current display order; the
// sort is not stable. Number restores the table order. Names compare by byte value; type and size
// compare as unsigned 32-bit values (script classes, with negative IDs, come last), offsets as
// unsigned 64-bit positions.
void SortListRows(AssetsFile& file, ListColumn column);

} // namespace kestrel::ui
